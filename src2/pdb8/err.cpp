#include <cstdio>
#include <cstdlib>
#include <string>

#include "pdb8.h"

namespace {
FatalHandler fatal_handler = nullptr;
FatalReport fatal_report = nullptr;
}  // namespace

FatalReport set_fatal_report(FatalReport report) {
    const FatalReport previous = fatal_report;
    fatal_report = report;
    return previous;
}

FatalHandler set_fatal_handler(FatalHandler handler) {
    const FatalHandler previous = fatal_handler;
    fatal_handler = handler;
    return previous;
}

void err(std::string_view where, std::string_view message) {
    if (fatal_report != nullptr) fatal_report(where, message);
    const std::string w(where);
    const std::string m(message);
    std::printf("\n>ERROR IN %s\n>ERRROR : %s\n\n", w.c_str(), m.c_str());
    std::fflush(stdout);
    if (fatal_handler != nullptr) fatal_handler();
    // A failed run must never look like a successful one.
    std::exit(1);
}
