#include "dx/write/standard_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "common/fatal.h"
#include "common/text_out.h"

namespace stdoutput {

namespace {

int depth = 0;       // diversions alive (a lasting one counts for good)
int output_fd = -1;  // what descriptor 1 was before the first diversion

void begin() {
    if (depth++ > 0) return;
    std::fflush(text_out());
    output_fd = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
    if (output_fd < 0 || ::dup2(2, 1) < 0) {
        --depth;
        if (output_fd >= 0) ::close(output_fd);
        output_fd = -1;
        run_failed("I cannot write the output to standard output");
    }
}

void end() {
    if (--depth > 0) return;
    std::fflush(text_out());
    ::dup2(output_fd, 1);
    ::close(output_fd);
    output_fd = -1;
}

}  // namespace

Diversion::Diversion() {
    begin();
}

Diversion::~Diversion() {
    end();
}

int Diversion::output_descriptor() const {
    return output_fd;
}

void divert_for_good() {
    // Line by line, as a terminal shows standard error: progress is seen when it happens.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    begin();
}

}  // namespace stdoutput
