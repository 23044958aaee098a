// Lines of an input: whole lines with no limit on their length, from a byte source in large blocks, and
// the raw bytes after them for formats whose text header is followed by binary data.
#ifndef VOXMOL_DX_IO_LINES_H
#define VOXMOL_DX_IO_LINES_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "dx/io/input.h"

namespace io {

// Reads the next line of `file` into `line`, its "\n" included when it has one, NUL bytes and all; one
// character at a time, so that the stream stands right after the line. Returns false at the end of the
// stream. A read error is fatal.
bool read_line(std::FILE* file, std::string& line);

// Splits the rest of a source into lines, reading it in large blocks. A view handed out by next() stays
// valid until the following call.
class BlockReader {
  public:
    explicit BlockReader(Source& source, std::size_t block_size = 1 << 20);
    // The same over a stdio stream, from its current position (the stream is read to its end).
    explicit BlockReader(std::FILE* file, std::size_t block_size = 1 << 20);

    // The next line, its "\n" included when it has one; false at the end of the stream.
    bool next(std::string_view& line) {
        // The common case, a whole line inside the current block, is settled here without a call.
        if (!carry_handed_out_ && carry_.empty() && pos_ < end_) {
            const char* start = block_.get() + pos_;
            const void* nl = std::memchr(start, '\n', end_ - pos_);
            if (nl != nullptr) {
                const std::size_t len = static_cast<std::size_t>(static_cast<const char*>(nl) - start) + 1;
                pos_ += len;
                line = std::string_view(start, len);
                return true;
            }
        }
        return next_slow(line);
    }

    // The bytes of the current block after the last line handed out, for a reader that takes the lines
    // it recognises straight from them; consume(n) then counts the first n as handed out (n at most
    // their size). Empty while a line that spanned two blocks is still held: next() goes on from there.
    std::string_view buffered() const {
        if (carry_handed_out_ || !carry_.empty()) return {};
        return {block_.get() + pos_, end_ - pos_};
    }
    void consume(std::size_t n) { pos_ += n; }

    // The next `n` raw bytes of the stream, those after the last line handed out, copied into `dst`.
    // Returns how many were copied: fewer than `n` only at the end of the stream.
    std::size_t read(char* dst, std::size_t n);

    // How many bytes are left to hand out, when the source knows its size (a plain file); empty for a
    // pipe or a decompressed stream. Lets a binary format see that its header claims more data than the
    // file holds before the values are allocated.
    std::optional<std::uint64_t> bytes_left() const;

  private:
    bool next_slow(std::string_view& line);
    bool refill();

    std::unique_ptr<Source> owned_;  // the stdio stream's source, for the second constructor
    Source& source_;
    std::unique_ptr<char[]> block_;  // not cleared: only bytes read into it are ever looked at
    std::size_t block_size_;
    static constexpr std::size_t kDirectRead = std::size_t{64} << 10;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool at_eof_ = false;
    std::string carry_;  // a line that spans two blocks
    bool carry_handed_out_ = false;
};

}  // namespace io

#endif  // VOXMOL_DX_IO_LINES_H
