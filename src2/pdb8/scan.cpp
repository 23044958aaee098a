#include "pdb8/scan.h"

#include <cstdlib>

namespace pdbscan {

namespace {

// "%s": skips white space and one word; nullptr at the end of the text (nothing to read).
const char* skip_word(const char* p, const char* e) {
    p = skip_space(p, e);
    if (p == e) return nullptr;
    while (p < e && !is_space(*p))
        ++p;
    return p;
}

// The tail shared by both layouts: "%c%c%d%c" read as separator, chain, residue number and letter. Each
// field is stored as soon as it converts; the scan stops at the first that does not.
void read_key_tail(const char* p, const char* e, PrescanKey& key) {
    if (p == e) return;
    ++p;  // separator
    if (p == e) return;
    key.chain = *p++;
    int nb;
    p = scan_int(p, e, nb);
    if (p == nullptr) return;
    key.nb = nb;
    if (p == e) return;
    key.letter = *p;
}

}  // namespace

void read_key_words(std::string_view line, PrescanKey& key) {
    const char* e = line.data() + line.size();
    const char* p = skip_word(line.data(), e);  // record name
    if (p == nullptr) return;
    int serial;
    p = scan_int(p, e, serial);
    if (p == nullptr) return;
    p = skip_word(p, e);  // atom name
    if (p == nullptr) return;
    p = skip_word(p, e);  // residue name
    if (p == nullptr) return;
    read_key_tail(p, e, key);
}

void read_key_columns(std::string_view line, PrescanKey& key) {
    const char* e = line.data() + line.size();
    const char* p = line.data();
    if (e - p < 6) return;  // the six record characters
    p += 6;
    int serial;
    p = scan_int(p, e, serial);
    if (p == nullptr) return;
    if (e - p < 5) return;  // five single characters after the serial
    p += 5;
    p = skip_word(p, e);  // residue name
    if (p == nullptr) return;
    read_key_tail(p, e, key);
}

}  // namespace pdbscan
