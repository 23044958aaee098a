#include "pdb8.h"

void err(std::string_view where, std::string_view message) {
    fatal_error(where, message);
}
