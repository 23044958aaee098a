#include <cstdio>
#include <cstdlib>
#include <string>

#include "pdb8.h"

void err(std::string_view where, std::string_view message) {
    const std::string w(where);
    const std::string m(message);
    std::printf("\n>ERROR IN %s\n>ERRROR : %s\n\n", w.c_str(), m.c_str());
    std::fflush(stdout);
    // A failed run must never look like a successful one.
    std::exit(1);
}
