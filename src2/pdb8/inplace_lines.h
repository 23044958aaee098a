// Lines of a file or of text in memory, scanned where they lie: each line's text as a line set holds it
// (see pdb_lines_from_text in pdb8.h), without a 128-byte buffer per line. A file is read in blocks with
// pread, so that several cursors can read parts of one file side by side, each with its own block.
#ifndef VOXMOL_PDB8_INPLACE_LINES_H
#define VOXMOL_PDB8_INPLACE_LINES_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace pdblines {

// What the lines are read from: the file `fd` when it is not negative, else `text`.
struct Source {
    int fd = -1;
    std::string_view text;
};

constexpr std::uint64_t kToEnd = UINT64_MAX;  // no bound: up to where the input ends
constexpr std::size_t kMinBlock = 256;        // the least block a cursor over a file needs

// The text a line set keeps of one line: `raw` is the line without its "\n"; `at_newline` says whether one
// ended it. A "\r" before the "\n" is dropped, the text is cut after 127 characters and at its first NUL.
std::string_view kept_text(const char* raw, std::size_t length, bool at_newline);
// The same for a line known to hold no NUL.
std::string_view kept_text_without_nul(const char* raw, std::size_t length, bool at_newline);

class LineCursor {
  public:
    // The lines that start in [begin, end), `begin` being the start of a line; the last of them is read
    // whole even when it goes on past `end`. The input is taken to stop at `limit` (kToEnd: wherever the
    // file or text stops). `block` receives a file's blocks (kMinBlock bytes at least; a text needs none).
    LineCursor(const Source& source, std::uint64_t begin, std::uint64_t end, std::uint64_t limit,
               std::span<char> block);

    // The next line's text, or false after the last line and when reading fails. The text stays valid
    // until the next call.
    bool next(std::string_view& text);

    std::uint64_t line_start() const { return line_start_; }  // where the line just returned starts
    std::uint64_t position() const { return base_ + pos_; }   // where the next line would start
    bool read_error() const { return read_error_ != 0; }      // a read failed; errno_of() says how
    int errno_of() const { return read_error_; }
    bool ended_early() const { return ended_early_; }  // the input stopped before `limit`

  private:
    bool refill();             // moves the unfinished line to the block's start and reads behind it
    bool skip_rest_of_line();  // drops a long line's characters up to and with its "\n"

    bool read_more();  // reads behind what the block holds; false when the read fails

    int fd_;
    const char* data_;  // what the lines are read from: the block, or the whole text
    char* block_;
    std::size_t capacity_ = 0;
    std::uint64_t end_, limit_;
    std::uint64_t base_;      // input offset of block_[0]
    std::size_t pos_ = 0;     // start of the next line in the block
    std::size_t length_ = 0;  // bytes the block holds
    bool at_end_ = false;     // nothing of the input lies beyond the block
    bool nul_free_ = false;   // the block holds no NUL, so its lines need no search for one
    std::uint64_t line_start_ = 0;
    int read_error_ = 0;
    bool ended_early_ = false;
    char long_line_[128];  // the kept text of a line longer than what is left of a block
};

}  // namespace pdblines

#endif  // VOXMOL_PDB8_INPLACE_LINES_H
