#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>
#include <string>

#include "common/text_out.h"
#include "pdb8.h"
#include "string_tool2.h"

namespace {

struct Element {
    std::string_view code;
    int number;
};

constexpr std::array<Element, 9> kElements{
    {{"H ", 1}, {"C ", 6}, {"N ", 7}, {"O ", 8}, {"P ", 15}, {"S ", 16}, {"CL", 17}, {"SE", 34}, {"BR", 35}}};

constexpr std::array<std::string_view, 20> kAminoAcids{"ALA", "CYS", "ASP", "GLU", "PHE", "GLY", "HIS",
                                                       "ILE", "LYS", "LEU", "MET", "ASN", "PRO", "GLN",
                                                       "ARG", "SER", "THR", "VAL", "TRP", "TYR"};

constexpr std::array<std::string_view, 6> kNucOneLetter{"G", "A", "T", "C", "U", "I"};
constexpr std::array<std::string_view, 6> kNucPrefix{"+G", "+A", "+T", "+C", "+U", "+I"};
constexpr std::array<std::string_view, 6> kNucThreeLetter{"GUA", "ADE", "THY", "CYT", "URA", "INO"};

template <std::size_t N>
bool one_of(std::string_view text, const std::array<std::string_view, N>& names) {
    return std::find(names.begin(), names.end(), text) != names.end();
}

// True when `text` begins with one of `names`, all of which have the same length.
template <std::size_t N>
bool begins_with_one_of(std::string_view text, const std::array<std::string_view, N>& names) {
    const std::size_t n = names[0].size();
    return text.size() >= n && one_of(text.substr(0, n), names);
}

// The layout of the PDB atom-name field for a cleaned name.
std::string align_atom_name(const std::string& name) {
    switch (name.size()) {
        case 0:
            // No name to place: the field stays blank rather than unwritten.
            return "    ";
        case 1:
            return " " + name + "  ";
        case 2:
            return " " + name + " ";
        case 3:
            if (name[0] >= '1' && name[0] <= '4') return name + " ";
            return " " + name;
        default:
            // The field holds four columns; a longer name is cut there rather than overrunning it.
            return name.substr(0, 4);
    }
}

// The element code of an atom name, by the name's length.
std::string element_code(std::string_view aname) {
    if (aname.size() >= 3) return std::string{aname[1], ' '};
    if (aname.size() == 2) return aname[0] == ' ' ? std::string{aname[1], ' '} : std::string(aname);
    // A one-letter name is that element's letter; the empty name has no element.
    if (aname.size() == 1) return std::string{aname[0], ' '};
    return std::string();
}

}  // namespace

int format_atm(std::string_view strin, std::string& strout, int LEVEL) {
    const std::string in(strin);  // strin may view strout
    if (LEVEL > 3) std::fprintf(text_out(), "Entering in format_atm\n");
    std::string name;
    delsp(in, name);
    delquote(name, name);
    std::string result = align_atom_name(name);
    if (LEVEL > 3) {
        std::fprintf(text_out(), "Input atom= |%s|  New atom= |%s|   length=%d\n", in.c_str(), result.c_str(),
                     static_cast<int>(name.size()));
    }
    strout = std::move(result);
    return static_cast<int>(strout.size());
}

int is_nuc(PDBRESI res, int LEVEL) {
    // The field is read up to its terminator, and never past its own size.
    const char* const end = std::find(std::begin(res.rname), std::end(res.rname), '\0');
    const std::string_view rname(res.rname, static_cast<std::size_t>(end - res.rname));
    if (LEVEL > 2)
        std::fprintf(text_out(), "Entering into is_nuc and res.rname=|%s|\n", std::string(rname).c_str());
    const bool nucleotide = one_of(rname, kNucOneLetter) || begins_with_one_of(rname, kNucPrefix) ||
                            begins_with_one_of(rname, kNucThreeLetter);
    return nucleotide ? 1 : 0;
}

int is_hydrogen(std::string_view aname, int LEVEL) {
    if (LEVEL > 2)
        std::fprintf(text_out(), "Entering into is_hydrogen and aname=|%s|\n", std::string(aname).c_str());
    std::string name;
    delspbeg(aname, name);
    // An atom name has at most four characters; whatever follows them is not looked at.
    name.resize(std::min<std::size_t>(name.size(), 4));
    auto is_h_or_d = [](char c) { return c == 'H' || c == 'D'; };
    if (name.empty()) return 0;
    if (is_h_or_d(name[0])) return 1;
    // Unlike the atom-name layout, the digit 4 does not lead a hydrogen name here.
    return name.size() >= 2 && name[0] >= '1' && name[0] <= '3' && is_h_or_d(name[1]) ? 1 : 0;
}

int is_known_AA(std::string_view rname, int /*LEVEL*/) {
    return begins_with_one_of(rname, kAminoAcids) ? 1 : 0;
}

int is_pdb_cif(std::string_view fname, int /*LEVEL*/) {
    auto holds = [fname](std::string_view marker) { return fname.find(marker) != std::string_view::npos; };
    if (holds(".pdb") || holds(".ent")) return 1;
    if (holds(".cif")) return 2;
    return 0;
}

int get_achem(std::string_view aname, std::string& achem, int LEVEL) {
    if (LEVEL > 2)
        std::fprintf(text_out(), "Entering into get_achem and aname=|%s|\n", std::string(aname).c_str());
    std::string code = element_code(aname);
    const auto found = std::find_if(kElements.begin(), kElements.end(),
                                    [&code](const Element& e) { return e.code == code; });
    achem = std::move(code);
    return found == kElements.end() ? 0 : found->number;
}
