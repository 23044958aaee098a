#include "string_tool2/cscan.h"

#include <cstdio>
#include <string>

#include "dx/cconv.h"

namespace cscan {

const char* scan_double(const char* p, const char* e, double& value) {
    p = skip_space(p, e);
    if (p == e) return nullptr;
    const char* token_end = p;
    while (token_end < e && !is_space(*token_end) && *token_end != '\0')
        ++token_end;
    const std::string text(p, token_end);
    const char* q = text.c_str();
    if (cconv::scan_double(q, value) != cconv::Scan::ok) return nullptr;
    return p + (q - text.c_str());
}

}  // namespace cscan
