// Text helpers shared by residue pattern parsing and residue selection.
#ifndef VOXMOL_PDB8_SELECTION_TEXT_H
#define VOXMOL_PDB8_SELECTION_TEXT_H

#include <string>
#include <string_view>

namespace selection_text {

// A text ends at its first NUL, as the C string it stands for would; split_range writes NULs into its
// buffer, so this keeps a second look at that buffer consistent with the first.
inline std::string_view c_text(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// The letters that can name a chain or an insertion code in an expression.
inline bool in_alphabet(char c) {
    return c >= 'A' && c <= 'Z';
}

// Only the letters a to z change; every other byte stays as it is, whatever the locale.
inline std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

}  // namespace selection_text

#endif  // VOXMOL_PDB8_SELECTION_TEXT_H
