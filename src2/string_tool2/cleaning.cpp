#include <cstdio>
#include <string>

#include "common/text_out.h"
#include "string_tool2.h"

namespace {

// The text without its leading characters that satisfy `strip`.
template <typename Pred>
std::string without_leading(std::string_view text, Pred strip) {
    std::size_t start = 0;
    while (start < text.size() && strip(text[start]))
        ++start;
    return std::string(text.substr(start));
}

// The text without every character that satisfies `drop`, wherever it stands.
template <typename Pred>
std::string without_any(std::string_view text, Pred drop) {
    std::string kept;
    kept.reserve(text.size());
    for (const char c : text) {
        if (!drop(c)) kept += c;
    }
    return kept;
}

int assign(std::string& output, std::string result) {
    output = std::move(result);
    return static_cast<int>(output.size());
}

}  // namespace

int del0beg(std::string& strin, std::string& strout) {
    std::string result = without_leading(strin, [](char c) { return c == '0'; });
    strin = result;
    strout = std::move(result);
    return 0;
}

char itoc(int val) {
    // Only a single digit has a character of its own. Negative values too give the character with code 0,
    // rather than the minus sign their decimal text begins with.
    if (val < 0 || val > 9) return '\0';
    return static_cast<char>('0' + val);
}

int delsp(std::string_view strin, std::string& strout) {
    return assign(strout, without_any(strin, [](char c) { return c == ' ' || c == '\n'; }));
}

int delnl(std::string_view strin, std::string& strout) {
    return assign(strout, without_any(strin, [](char c) { return c == '\n' || c == '\r'; }));
}

int delquote(std::string_view strin, std::string& strout) {
    std::string_view result = strin;
    if (!strin.empty() && strin.front() == '\'' && strin.back() == '\'') {
        // A lone apostrophe is both the first and the last character: nothing lies between, and the
        // text between must not be taken as starting after its end.
        result = strin.size() == 1 ? std::string_view() : strin.substr(1, strin.size() - 2);
    }
    return assign(strout, std::string(result));
}

int delspbeg(std::string_view strin, std::string& strout) {
    strout = without_leading(strin, [](char c) { return c == ' '; });
    return 0;
}

int delspdotbeg(std::string& strin, std::string& strout) {
    std::string result = without_leading(strin, [](char c) { return c == ' ' || c == '.'; });
    strin = result;
    strout = std::move(result);
    return 0;
}

int delspend(std::string_view strin, std::string& strout) {
    // The last character is always dropped; the empty text has none to drop and stays empty (-1).
    std::size_t keep = strin.empty() ? 0 : strin.size() - 1;
    while (keep > 0 && strin[keep - 1] == ' ')
        --keep;
    std::string result(strin.substr(0, keep));

    // The trace line is printed before strout is written, since strin may view strout. Its third value is
    // always 0: a trace kept as it has always been printed.
    const std::string in(strin);
    std::fprintf(text_out(), " !%s!%s!  j=%d   \n", in.c_str(), result.c_str(), 0);
    strout = std::move(result);
    return static_cast<int>(keep) - 1;
}
