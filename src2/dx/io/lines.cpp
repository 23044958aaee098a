#include "dx/io/lines.h"

#include <algorithm>
#include <cstring>

#include "common/interrupt.h"

namespace io {

bool read_line(std::FILE* file, std::string& line) {
    line.clear();
    int c;
    while ((c = getc_unlocked(file)) != EOF) {
        line.push_back(static_cast<char>(c));
        if (c == '\n') return true;
    }
    if (std::ferror(file)) read_failure();
    return !line.empty();
}

BlockReader::BlockReader(Source& source, std::size_t block_size)
    : source_(source), block_(std::make_unique_for_overwrite<char[]>(block_size)), block_size_(block_size) {}

BlockReader::BlockReader(std::FILE* file, std::size_t block_size)
    : owned_(std::make_unique<StdioSource>(file)),
      source_(*owned_),
      block_(std::make_unique_for_overwrite<char[]>(block_size)),
      block_size_(block_size) {}

bool BlockReader::refill() {
    if (at_eof_) return false;
    check_interrupt();  // a host may stop the read between two blocks
    end_ = source_.read(block_.get(), block_size_);
    pos_ = 0;
    if (end_ == 0) at_eof_ = true;
    return end_ > 0;
}

bool BlockReader::next_slow(std::string_view& line) {
    if (carry_handed_out_) {
        carry_.clear();
        carry_handed_out_ = false;
    }
    for (;;) {
        if (pos_ < end_) {
            const char* start = block_.get() + pos_;
            const std::size_t left = end_ - pos_;
            const void* nl = std::memchr(start, '\n', left);
            if (nl != nullptr) {
                const std::size_t len = static_cast<const char*>(nl) - start + 1;
                pos_ += len;
                if (carry_.empty()) {
                    line = std::string_view(start, len);
                } else {
                    carry_.append(start, len);
                    line = carry_;
                    carry_handed_out_ = true;
                }
                return true;
            }
            carry_.append(start, left);
            pos_ = end_;
        }
        if (!refill()) {
            if (carry_.empty()) return false;
            line = carry_;  // the last line, without a line end
            carry_handed_out_ = true;
            return true;
        }
    }
}

std::size_t BlockReader::read(char* dst, std::size_t n) {
    if (carry_handed_out_) {
        carry_.clear();
        carry_handed_out_ = false;
    }
    std::size_t copied = 0;
    while (copied < n) {
        if (pos_ == end_) {
            // A large request goes straight from the stream into `dst`, without a copy through the block:
            // one of a whole block, or of 64 KiB (a binary format's reads of its values, which then follow
            // each other straight from the stream once the block that held the header is used up).
            if (n - copied >= std::min(block_size_, kDirectRead) && !at_eof_) {
                while (copied < n) {
                    check_interrupt();
                    const std::size_t got = source_.read(dst + copied, std::min(n - copied, block_size_));
                    if (got == 0) {
                        at_eof_ = true;
                        break;
                    }
                    copied += got;
                }
                break;
            }
            if (!refill()) break;
        }
        const std::size_t take = std::min(n - copied, end_ - pos_);
        std::memcpy(dst + copied, block_.get() + pos_, take);
        pos_ += take;
        copied += take;
    }
    return copied;
}

std::optional<std::uint64_t> BlockReader::bytes_left() const {
    const std::optional<std::uint64_t> in_source = source_.bytes_left();
    if (!in_source) return std::nullopt;
    const std::uint64_t in_carry = carry_handed_out_ ? 0 : carry_.size();
    return *in_source + (end_ - pos_) + in_carry;
}

}  // namespace io
