// The voxmol command: one conversion, with the process's own handling of fatal errors and signals.
#include <fcntl.h>

#include <csignal>
#include <new>

#include "common/fatal.h"
#include "dx/voxmol.h"
#include "dx/write/output_file.h"

namespace {

// A signal that ends the run removes the output's named temporary file, if it has one, then ends the
// process as the signal would have.
extern "C" void on_stop_signal(int sig) {
    outfile::remove_temporaries();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// Every catchable signal whose default ends the process, where it still has that default: one that the
// caller set to be ignored (nohup's SIGHUP, a shell's SIGPIPE) stays ignored.
void remove_temporaries_on_stop_signals() {
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGPIPE,
                    SIGXFSZ}) {
        struct sigaction current {};
        if (::sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            struct sigaction handler {};
            handler.sa_handler = on_stop_signal;
            sigemptyset(&handler.sa_mask);
            ::sigaction(sig, &handler, nullptr);
        }
    }
}

// Standard input, output and error, when the caller closed them, are opened on /dev/null: otherwise the
// next file opened (the output's) would take descriptor 1, and the run's messages would go into it.
void keep_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && ::open("/dev/null", O_RDWR) != fd) return;
    }
}

}  // namespace

int main(int argc, char** argv) {
    keep_standard_descriptors();
    remove_temporaries_on_stop_signals();
    // A fatal error unwinds the run, so that the writing thread stops and the output's temporary file
    // goes before the error is printed and the process ends with status 1.
    set_fatal_report(throw_fatal_error);
    try {
        return voxmol_main(argc, argv);
    } catch (const FatalError& e) {
        print_fatal_block(e.where, e.message);
    } catch (const std::bad_alloc&) {
        print_fatal_block(kRunLabel, "There is not enough memory for this run");
    }
    return 1;
}
