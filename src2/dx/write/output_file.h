// An output file that appears only when it is complete. The new output is written into a temporary file
// in the output's folder and put in place of the earlier one, if any, with one rename when everything was
// written: a full disk, a fatal error, a signal or a second run writing the same output never leaves a
// truncated or mixed file, and the earlier output stands until the new one replaces it whole.
//
// The temporary file has no name while it is written where the file system allows it (O_TMPFILE), so that
// nothing is left behind even by SIGKILL or a power cut; elsewhere it is a hidden ".voxmol-XXXXXX" beside
// the output, which the destructor, or the host's signal handler through remove_temporaries(), removes.
// An output that is a symbolic link replaces the file it points to. An earlier output keeps its
// permission bits; a new one gets those fopen would give it (0666 less the umask). An output that is not
// a regular file (a FIFO, /dev/null, /dev/stdout) is written directly.
#ifndef VOXMOL_DX_WRITE_OUTPUT_FILE_H
#define VOXMOL_DX_WRITE_OUTPUT_FILE_H

#include <cstdio>
#include <string>

namespace outfile {

class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();  // discards what was written, unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens a place to write the output `path`. False, with errno set, where fopen(path, "w") would fail
    // (no such folder, no permission, a folder of that name) or no temporary file can be made beside it.
    bool open(const std::string& path);

    // Writes to a copy of the open descriptor `fd` (standard output) directly, as for an output that is
    // not a regular file: what commit() flushes is what was written. False, with errno set, when it cannot
    // be copied.
    bool open_descriptor(int fd);

    // The stream to write; valid from a successful open() until commit() or discard().
    std::FILE* stream() const { return file_; }

    // Flushes and closes the stream and puts the new file in place. False, with errno set, when anything
    // could not be written or moved: nothing is then left behind and an earlier output stands.
    bool commit();

    // Drops what was written; the earlier output, if any, stands.
    void discard();

  private:
    bool open_temporary(const std::string& folder, unsigned mode);
    bool put_in_place();

    std::FILE* file_ = nullptr;
    std::string target_;     // the file to replace or create (a link's target)
    std::string folder_;     // its folder, where the temporary lives
    std::string temporary_;  // the temporary's name while it has one
    int slot_ = -1;          // its place among the names remove_temporaries() removes, or -1
    bool unnamed_ = false;   // an O_TMPFILE file, linked into place by commit()
    bool direct_ = false;    // the output itself, opened for writing (not a regular file)
};

// Removes every named temporary file of an OutputFile of this process that is being written. Safe in a
// signal handler: a host (the command line's main) calls it from its handlers of the signals that end a
// process, then lets the signal end it.
void remove_temporaries() noexcept;

}  // namespace outfile

#endif  // VOXMOL_DX_WRITE_OUTPUT_FILE_H
