// The one fatal-error block of the library and the converter, and the two hooks a host takes it over
// with. err (the PDB toolkit's report) and err1 (the string tools') both end here.
#ifndef VOXMOL_COMMON_FATAL_H
#define VOXMOL_COMMON_FATAL_H

#include <stdexcept>
#include <string>
#include <string_view>

// Prints "\n>ERROR IN %s\n>ERRROR : %s\n\n" on standard output with `where` and `message`, then ends the
// process with exit status 1 (a failed run never looks like a successful one), unless a host took over.
[[noreturn]] void fatal_error(std::string_view where, std::string_view message);

// The block alone, flushed; what fatal_error prints, for a host that reports an error it caught.
void print_fatal_block(std::string_view where, std::string_view message);

// What fatal_error does after printing, instead of exiting: a harness that must outlive fatal errors (a
// fuzzer running millions of inputs in one process) installs a handler that throws or jumps out; it must
// not return. nullptr restores the exit with status 1. Returns the previous handler.
using FatalHandler = void (*)();
FatalHandler set_fatal_handler(FatalHandler handler);

// What fatal_error does first, before it prints anything: a host with errors of its own (the Python
// module, whose callers get an exception and keep running; the command line, which unwinds the run so
// that nothing it was writing is left behind) receives the location and the message, and throws; then
// nothing is printed. A report that returns leaves fatal_error to go on as without one. nullptr (the
// default) prints and exits. Returns the previous report.
using FatalReport = void (*)(std::string_view where, std::string_view message);
FatalReport set_fatal_report(FatalReport report);

// A fatal error carried as an exception, for hosts that unwind: throw_fatal_error is a FatalReport that
// throws it. what() is "<where>: <message>".
struct FatalError : std::runtime_error {
    FatalError(std::string_view where, std::string_view message);
    std::string where;
    std::string message;
};
[[noreturn]] void throw_fatal_error(std::string_view where, std::string_view message);

// The location every message of a conversion run carries, and the one way such a run fails.
inline constexpr std::string_view kRunLabel = "MAIN:VOXDEN";
[[noreturn]] inline void run_failed(std::string_view message) {
    fatal_error(kRunLabel, message);
}

#endif  // VOXMOL_COMMON_FATAL_H
