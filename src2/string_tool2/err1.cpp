#include "common/fatal.h"
#include "string_tool2.h"

// The string tools' report is the toolkit's report under another name: one block, one exit status.
void err1(std::string_view where, std::string_view message) {
    fatal_error(where, message);
}
