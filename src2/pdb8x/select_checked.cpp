// The selection language with its traps refused: the expression is parsed strictly first, its range
// checked against the structure, and only then read by read_res_pattern.
#include <cctype>
#include <optional>
#include <string>

#include "pdb8x.h"

namespace {

bool is_letter(char c) {
    return c >= 'A' && c <= 'Z';
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trimmed(std::string_view t) {
    while (!t.empty() && t.front() == ' ')
        t.remove_prefix(1);
    while (!t.empty() && t.back() == ' ')
        t.remove_suffix(1);
    return t;
}

// A residue identifier: an optional chain letter, digits, an optional insertion letter.
struct Token {
    std::string_view text;
    bool identifier = false;
};

bool is_identifier(std::string_view t) {
    std::size_t i = 0;
    if (i < t.size() && is_letter(t[i])) ++i;
    const std::size_t digits = i;
    while (i < t.size() && is_digit(t[i]))
        ++i;
    if (i == digits) return false;
    if (i < t.size() && is_letter(t[i])) ++i;
    return i == t.size();
}

bool matches(const PDBRESI& r, const PDBRES& key) {
    return r.rchain == key.chain && r.rnb == key.nb && r.rletter == key.letter;
}

std::optional<int> first_match(PDBMOL mol, int from, int max, const PDBRES& key) {
    for (int i = from; i < max; ++i) {
        if (matches(mol.r[static_cast<std::size_t>(i)], key)) return i;
    }
    return std::nullopt;
}

std::string quoted(std::string_view t) {
    return std::string("'") + std::string(t) + "'";
}

}  // namespace

CheckedSelection select_checked(std::string_view expression, PDBMOL mol, int max, bool invert) {
    CheckedSelection out;
    const std::string shown = quoted(expression);
    auto refuse = [&](const std::string& why) {
        out.error = "selection " + shown + ": " + why;
        return out;
    };
    // A NUL ends the text for the toolkit; here it is text the language does not have.
    if (expression.find('\0') != std::string_view::npos) return refuse("holds a NUL character");
    const std::string_view given = trimmed(expression);
    const std::string text = upper(given);
    // A word of `text` as the caller wrote it (same length and place in `given`).
    auto as_written = [&](std::string_view w) {
        return quoted(given.substr(static_cast<std::size_t>(w.data() - text.data()), w.size()));
    };
    if (text.empty()) return refuse("is empty");
    if (text == "*") {
        for (int i = 0; i < max; ++i)
            if (!invert) out.residues.push_back(i);
        return out;
    }
    if (text.find(',') != std::string::npos) {
        return refuse(
            "a comma does not make a list in the selection language: it joins the two ends of a range, "
            "as '-' does. Write 'A48-A50' for a range, or select each residue and join the index arrays");
    }
    if (text[0] == '*') return refuse("text after '*', which selects every residue alone");
    if (text.size() == 1 && is_letter(text[0])) {
        std::vector<int> list(static_cast<std::size_t>(max));
        const int n = read_res_pattern(text, mol, max, list, invert ? 1 : 0, 0);
        list.resize(static_cast<std::size_t>(n));
        out.residues = std::move(list);
        return out;
    }

    // Words and the joiners between them.
    std::vector<std::string_view> words;
    std::vector<std::string_view> joiners;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '-' && text[i] != ':')
            ++i;
        if (i > start) {
            words.emplace_back(text.data() + start, i - start);
            const std::size_t js = i;
            while (i < text.size() && (text[i] == ' ' || text[i] == '-' || text[i] == ':'))
                ++i;
            if (i < text.size()) joiners.emplace_back(text.data() + js, i - js);
        } else {
            return refuse(std::string("'") + std::string(1, text[i]) +
                          "' stands where a residue identifier should");
        }
    }
    for (std::string_view w : words) {
        if (is_identifier(w)) continue;
        bool name_like = w.size() > 1;
        for (char c : w)
            name_like = name_like && is_letter(c);
        if (name_like) {
            return refuse(as_written(w) +
                          " names no residue: the language knows '*', a chain letter ('A'), a residue "
                          "('A125', '125B') and a range ('A10-A20'). Atom and residue names are selected "
                          "with the per-atom arrays, as s.name == 'CA' or s.resname == 'LYS'");
        }
        if (w.size() == 1 && is_letter(w[0]) && words.size() > 1) {
            return refuse(as_written(w) +
                          " names no residue number: '-' joins the two ends of a range, so a residue number "
                          "below 0 cannot be written (select it with the per-atom array resnum)");
        }
        return refuse(as_written(w) +
                      " is not a residue identifier (an optional chain letter, a residue number, an "
                      "optional insertion letter: 'A125', '125', '125B')");
    }
    if (words.size() > 2) return refuse("names more than the two ends of a range");
    if (words.size() == 2) {
        const std::string_view j = trimmed(joiners[0]);
        if (j.empty()) {
            return refuse(
                "blanks alone between two residues: the language reads them as a range, where a "
                "list may be meant. Write 'A10-A20' for the range, or select each residue");
        }
        if (j.size() != 1)
            return refuse(std::string("'") + std::string(j) + "' between the ends of a range: write one '-'");
    }

    const PDBRES first = get_res_pattern(words[0], 0);
    const PDBRES last = get_res_pattern(words.back(), 0);
    bool blank_chain = false;
    for (int r = 0; r < max && !blank_chain; ++r)
        blank_chain = mol.r[static_cast<std::size_t>(r)].rchain == ' ';
    for (const PDBRES& key : {first, last}) {
        if (key.chain == ' ' && !blank_chain && max > 0) {
            return refuse("'" + std::to_string(key.nb) +
                          (key.letter != ' ' ? std::string(1, key.letter) : "") +
                          "' has no chain letter, so it names a residue of the blank chain, and no residue "
                          "has a blank chain: name the chain, as in 'A" +
                          std::to_string(key.nb) + "'" +
                          (words.size() == 2 ? " (each end of a range names its own chain)" : ""));
        }
    }
    if (words.size() == 2) {
        const std::optional<int> p = first_match(mol, 0, max, first);
        if (!p)
            return refuse(std::string("the range's first residue ") + as_written(words[0]) +
                          " matches no residue");
        if (!first_match(mol, *p, max, last)) {
            return refuse(std::string("the range's last residue ") + as_written(words[1]) +
                          " matches no residue at or after its first (residue index " + std::to_string(*p) +
                          "): the range would run to the last residue of the structure");
        }
    }
    // Read by the toolkit, in the form it reads exactly as checked.
    const std::string canonical =
        words.size() == 2 ? std::string(words[0]) + "-" + std::string(words[1]) : std::string(words[0]);
    std::vector<int> list(static_cast<std::size_t>(max));
    const int n = read_res_pattern(canonical, mol, max, list, invert ? 1 : 0, 0);
    list.resize(static_cast<std::size_t>(n));
    out.residues = std::move(list);
    return out;
}
