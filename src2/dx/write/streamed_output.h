// Writing the output while the data file is still being read: the values of voxmol's own format arrive in
// walk order, so a second thread can format and write the records of the points already read, into the
// output's temporary file, which finish() puts in place.
#ifndef VOXMOL_DX_WRITE_STREAMED_OUTPUT_H
#define VOXMOL_DX_WRITE_STREAMED_OUTPUT_H

#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "dx/grid.h"
#include "dx/uhbdio.h"
#include "dx/write/output_file.h"

class StreamedOutput {
  public:
    // Starts writing the records of `grid` (its values still to come, announced through `progress`) for
    // the output `outname`. Empty when the output cannot be opened or no thread can start: the run then
    // writes after reading, and reports what is wrong at that point.
    static std::unique_ptr<StreamedOutput> start(const std::string& outname, const Tuhbdgrd& grid, double min,
                                                 double max, int resol, ValueProgress& progress);

    // The same for any output and any records: `open` opens the output (false: the run writes after
    // reading), and `write` writes every record into the stream, following `progress`, on the writing
    // thread.
    using Opener = std::function<bool(outfile::OutputFile&)>;
    using Writing = std::function<void(std::FILE*, const ValueProgress&)>;
    static std::unique_ptr<StreamedOutput> start(const Opener& open, ValueProgress& progress, Writing write);

    // Waits for the last record and puts the file in place; false when it could not be written (nothing
    // is then left behind). What the writing thread threw (no memory) is thrown here.
    bool finish();

    // Stops the writer and drops the file, unless finish() came first; also what the destructor does, so
    // that a run that ends with an error while the values are read leaves nothing behind.
    ~StreamedOutput();
    StreamedOutput(const StreamedOutput&) = delete;
    StreamedOutput& operator=(const StreamedOutput&) = delete;

  private:
    explicit StreamedOutput(ValueProgress& progress) : progress_(progress) {}
    void stop();

    outfile::OutputFile file_;
    ValueProgress& progress_;
    std::thread writer_;
    std::exception_ptr failure_;  // what the writer threw
};

#endif  // VOXMOL_DX_WRITE_STREAMED_OUTPUT_H
