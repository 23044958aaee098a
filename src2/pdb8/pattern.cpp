// Residue pattern parsing: expressions and item lists cut into identifiers, identifiers turned into
// PDBRES records.
#include <climits>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "common/text_out.h"
#include "pdb8.h"
#include "pdb8/selection_text.h"

namespace {

using selection_text::c_text;
using selection_text::in_alphabet;
using selection_text::upper;

bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The text read as a leading integer: white space skipped, an optional sign, then digits up to the first
// non-digit; 0 without digits. A number beyond the int range is clamped to it instead of wrapping, so an
// absurdly long number cannot turn into some unrelated residue number.
int leading_int(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && is_c_space(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) value = limit;
    }
    return static_cast<int>(negative ? -value : value);
}

// Cuts the text of `buf` at any of `separators`: a run of separators is one, and separators at either edge
// make no empty token. As the C tokenizer does, the separator that ends each token is overwritten with a
// NUL; separators before a token are left alone.
std::vector<std::string> cut_tokens(std::string& buf, std::string_view separators) {
    std::vector<std::string> tokens;
    const std::size_t end = c_text(buf).size();
    auto is_separator = [&](char c) { return separators.find(c) != std::string_view::npos; };
    std::size_t i = 0;
    while (true) {
        while (i < end && is_separator(buf[i]))
            ++i;
        if (i >= end) break;
        std::size_t j = i;
        while (j < end && !is_separator(buf[j]))
            ++j;
        tokens.emplace_back(buf, i, j - i);
        if (j < end) buf[j++] = '\0';
        i = j;
    }
    return tokens;
}

// Counts are returned as int; a list that long cannot be counted and is refused rather than wrapped.
int count_of(std::size_t n, const char* where) {
    if (n > static_cast<std::size_t>(INT_MAX)) err(where, "Too many residues in the pattern expression");
    return static_cast<int>(n);
}

void print_shape(std::size_t tokens) {
    if (tokens == 1) std::fprintf(text_out(), "Single residue in this pattern expression\n");
    if (tokens == 2) std::fprintf(text_out(), "Range of residue in this pattern expression\n");
}

}  // namespace

int split_range(std::string& buf, std::vector<std::string>& array, int LEVEL) {
    std::vector<std::string> tokens = cut_tokens(buf, "-:, ");
    const int count = count_of(tokens.size(), "SUB:SPLIT_RANGE");
    // The tokens are all cut before `array` is touched, so `buf` may be one of its entries.
    const std::size_t written = tokens.size() == 1 ? 2 : tokens.size();
    if (array.size() < written) array.resize(written);
    for (std::size_t k = 0; k < tokens.size(); ++k)
        array[k] = std::move(tokens[k]);
    if (tokens.size() == 1) array[1] = array[0];
    if (LEVEL > 2) print_shape(tokens.size());
    return count;
}

int split_range1(std::string& buf, std::vector<std::array<std::string, 2>>& array, int LEVEL) {
    if (LEVEL > 2) std::fprintf(text_out(), "Input for split_range1= %s\n", buf.c_str());
    const std::vector<std::string> items = cut_tokens(buf, ", ");
    const int count = count_of(items.size(), "SUB:SPLIT_RANGE1");
    if (array.size() < items.size()) array.resize(items.size());
    for (std::size_t j = 0; j < items.size(); ++j) {
        std::string item = items[j];
        std::vector<std::string> ends = cut_tokens(item, "-: ");
        // A pair holds a first and a last residue; a third one has no place, and dropping it would
        // quietly change the range the caller asked for.
        if (ends.size() > 2) err("SUB:SPLIT_RANGE1", "More than two residues in the range " + items[j]);
        if (ends.empty()) continue;  // only "-" and ":": counted, but the pair is left as it was
        array[j][1] = ends.size() == 2 ? std::move(ends[1]) : ends[0];
        array[j][0] = std::move(ends[0]);
        if (LEVEL > 2) print_shape(ends.size());
    }
    return count;
}

PDBRES get_res_pattern(std::string_view string, int LEVEL) {
    const std::string_view text = c_text(string);
    if (LEVEL > 2)
        std::fprintf(text_out(), "In get_res_pattern, with input string=%s\n", std::string(text).c_str());
    PDBRES res{};
    res.chain = ' ';
    res.letter = ' ';
    const std::string work = upper(text);
    std::string_view rest = work;
    if (!rest.empty() && in_alphabet(rest.front())) {
        res.chain = rest.front();
        rest.remove_prefix(1);
    }
    if (!rest.empty() && in_alphabet(rest.back())) {
        res.letter = rest.back();
        rest.remove_suffix(1);
    }
    res.nb = leading_int(rest);
    return res;
}
