#include "common/fatal.h"
#include "common/text_out.h"

#include <cstdio>
#include <cstdlib>

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

void print_fatal_block(std::string_view where, std::string_view message) {
    const std::string w(where);
    const std::string m(message);
    std::fprintf(text_out(), "\n>ERROR IN %s\n>ERRROR : %s\n\n", w.c_str(), m.c_str());
    std::fflush(text_out());
}

void fatal_error(std::string_view where, std::string_view message) {
    if (fatal_report != nullptr) fatal_report(where, message);
    print_fatal_block(where, message);
    if (fatal_handler != nullptr) fatal_handler();
    std::exit(1);
}

FatalError::FatalError(std::string_view where_, std::string_view message_)
    : std::runtime_error(std::string(where_) + ": " + std::string(message_)),
      where(where_),
      message(message_) {}

void throw_fatal_error(std::string_view where, std::string_view message) {
    throw FatalError(where, message);
}
