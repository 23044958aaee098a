// Writing the output while the data file is still being read: the records of voxmol's own format
// arrive in walk order, so a second thread can format and write the points already read. The records
// go to a temporary file beside the output, moved into its place only when the run succeeds, so that a
// run that fails while reading leaves no output file and an earlier output untouched, as a run that
// writes only after reading does.
#ifndef VOXMOL_DX_WRITE_STREAMED_OUTPUT_H
#define VOXMOL_DX_WRITE_STREAMED_OUTPUT_H

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "dx/grid.h"
#include "dx/uhbdio.h"

class StreamedOutput {
  public:
    // Starts writing the records of `grid` (its values still to come, announced through `progress`)
    // for the output `outname`. Empty when the output cannot be replaced exactly as opening it for
    // writing would (it exists and is not a plain file of one name that this user owns and may write,
    // or no temporary file can be made beside it): the run then writes after reading, as before.
    static std::unique_ptr<StreamedOutput> start(const std::string& outname, const Tuhbdgrd& grid, double min,
                                                 double max, int resol, ValueProgress& progress);

    // Waits for the last record and moves the file into place; false when it could not be written
    // (nothing is then left behind).
    bool finish();

    // Stops the writer and removes the temporary file, unless finish() came first. Also what the
    // destructor does, and what happens when a fatal error ends the process while the file is written.
    void abandon();
    ~StreamedOutput();
    StreamedOutput(const StreamedOutput&) = delete;
    StreamedOutput& operator=(const StreamedOutput&) = delete;

    struct Key {};  // only start() makes one
    StreamedOutput(Key, std::string outname, std::string temporary, std::FILE* file, ValueProgress& progress);

  private:
    std::string outname_;
    std::string temporary_;
    std::FILE* file_;
    ValueProgress& progress_;
    std::thread writer_;
    bool finished_ = false;
};

#endif  // VOXMOL_DX_WRITE_STREAMED_OUTPUT_H
