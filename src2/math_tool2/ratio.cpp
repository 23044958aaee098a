#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "common/text_out.h"
#include "math_tool2.h"

namespace {

// atoi as the C library has it: leading white space, an optional sign, decimal digits up to the first
// other character, 0 when there are none. The long result is narrowed modulo 2^32, as atoi does on this
// platform, without atoi's undefined behaviour on overflow.
int c_atoi(const std::string& part) {
    return static_cast<int>(std::strtol(part.c_str(), nullptr, 10));
}

// The non-empty parts between runs of '/', in order: what strtok with the delimiter set "/" yields, without
// touching the library tokenizer's state (a caller's own scan stays intact).
std::vector<std::string> split_at_slashes(std::string_view text) {
    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = text.find_first_not_of('/', pos);
        if (start == std::string_view::npos) break;
        std::size_t end = text.find('/', start);
        if (end == std::string_view::npos) end = text.size();
        parts.emplace_back(text.substr(start, end - start));
        pos = end;
    }
    return parts;
}

}  // namespace

double rtof(std::string_view ratio, int LEVEL) {
    // The text ends at its first NUL, as the C string it stands for; any length is accepted.
    const std::string text(ratio.substr(0, ratio.find('\0')));
    if (text.find('/') == std::string::npos) return std::strtod(text.c_str(), nullptr);  // atof

    const std::vector<std::string> parts = split_at_slashes(text);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (LEVEL > 2)
            std::fprintf(text_out(), "In Split and tok #%d = %s\n", static_cast<int>(i), parts[i].c_str());
    }
    if (parts.size() != 2)
        std::fprintf(text_out(), "SUB: RTOF;\n Wrong ratio expression: %s\n", text.c_str());
    // Fewer than two parts leave nothing to divide by: the value is undefined, not a leftover.
    if (parts.size() < 2) return std::numeric_limits<double>::quiet_NaN();
    const int first = c_atoi(parts[0]);
    const int second = c_atoi(parts[1]);
    return static_cast<double>(first) / static_cast<double>(second);
}
