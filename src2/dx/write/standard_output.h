// An output written to standard output: while it is written, what the run prints on standard output goes
// to standard error instead, so that the records alone reach the pipe or file that standard output is.
#ifndef VOXMOL_DX_WRITE_STANDARD_OUTPUT_H
#define VOXMOL_DX_WRITE_STANDARD_OUTPUT_H

namespace stdoutput {

// While one lives, descriptor 1 (where printf and puts write) is a copy of descriptor 2, and the
// descriptor that standard output was is kept for the output (output_descriptor()). Diversions nest: an
// inner one shares the outer one's descriptors, and the last to end puts descriptor 1 back. Fatal when
// the descriptors cannot be copied.
class Diversion {
  public:
    Diversion();
    ~Diversion();
    Diversion(const Diversion&) = delete;
    Diversion& operator=(const Diversion&) = delete;

    int output_descriptor() const;
};

// A diversion that lasts until the process ends: the command line's, made before anything is printed, so
// that even the error block printed after the run has unwound goes to standard error.
void divert_for_good();

}  // namespace stdoutput

#endif  // VOXMOL_DX_WRITE_STANDARD_OUTPUT_H
