#include "pdb8/inplace_lines.h"

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace pdblines {

namespace {

constexpr std::size_t kKeep = 127;  // characters a line buffer keeps

// The first "\n" of [p, p + n), or nullptr. A PDB line is short: sixteen bytes are compared at a time in
// line, which costs less than a call; the rest of a longer line is left to memchr.
const char* find_line_end(const char* p, std::size_t n) {
#ifdef __SSE2__
    const __m128i newline = _mm_set1_epi8('\n');
    const std::size_t inline_bytes = std::min<std::size_t>(n, 128) & ~std::size_t{15};
    for (std::size_t i = 0; i < inline_bytes; i += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        if (const int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(chunk, newline)); hits != 0)
            return p + i + static_cast<unsigned>(__builtin_ctz(static_cast<unsigned>(hits)));
    }
    p += inline_bytes;
    n -= inline_bytes;
#endif
    return static_cast<const char*>(std::memchr(p, '\n', n));
}

}  // namespace

std::string_view kept_text_without_nul(const char* raw, std::size_t length, bool at_newline) {
    if (at_newline && length > 0 && raw[length - 1] == '\r') --length;  // CRLF: the "\r" belongs to the end
    return {raw, std::min(length, kKeep)};
}

std::string_view kept_text(const char* raw, std::size_t length, bool at_newline) {
    const std::string_view text = kept_text_without_nul(raw, length, at_newline);
    length = text.size();
    if (const void* nul = std::memchr(raw, '\0', length))
        length = static_cast<std::size_t>(static_cast<const char*>(nul) - raw);
    return {raw, length};
}

LineCursor::LineCursor(const Source& source, std::uint64_t begin, std::uint64_t end, std::uint64_t limit,
                       std::span<char> block)
    : fd_(source.fd), data_(block.data()), block_(block.data()), end_(end), limit_(limit), base_(begin) {
    if (fd_ < 0) {
        // The whole text is one block, with nothing beyond it.
        const std::uint64_t size = std::min<std::uint64_t>(source.text.size(), limit);
        data_ = source.text.data();
        block_ = nullptr;
        base_ = 0;
        length_ = static_cast<std::size_t>(size);
        pos_ = static_cast<std::size_t>(std::min(begin, size));
        at_end_ = true;
    } else {
        capacity_ = block.size();
        at_end_ = begin >= limit;
    }
}

bool LineCursor::next(std::string_view& text) {
    for (;;) {
        line_start_ = base_ + pos_;
        if (line_start_ >= end_) return false;
        const char* p = data_ + pos_;
        const std::size_t left = length_ - pos_;
        if (const char* nl = find_line_end(p, left)) {
            const auto n = static_cast<std::size_t>(nl - p);
            text = nul_free_ ? kept_text_without_nul(p, n, true) : kept_text(p, n, true);
            pos_ += n + 1;
            return true;
        }
        if (at_end_) {  // the last line, without a line end
            if (left == 0) return false;
            text = kept_text(p, left, false);
            pos_ = length_;
            return true;
        }
        if (left > kKeep + 1) {
            // More than 128 characters before the block ends: whatever ends the line, its kept text is its
            // first 127 characters, and the rest is only skipped.
            std::memcpy(long_line_, p, kKeep);
            if (!skip_rest_of_line()) return false;
            text = kept_text(long_line_, kKeep, false);
            return true;
        }
        if (!refill()) return false;
    }
}

bool LineCursor::refill() {
    std::memmove(block_, block_ + pos_, length_ - pos_);
    base_ += pos_;
    length_ -= pos_;
    pos_ = 0;
    nul_free_ = std::memchr(block_, '\0', length_) == nullptr;  // the unfinished line, at most 128 bytes
    return read_more();
}

bool LineCursor::read_more() {
    const std::uint64_t at = base_ + length_;
    std::size_t want = capacity_ - length_;
    if (limit_ != kToEnd) want = static_cast<std::size_t>(std::min<std::uint64_t>(want, limit_ - at));
    if (want == 0) {
        at_end_ = true;
        return true;
    }
    ssize_t n;
    do {
        n = ::pread(fd_, block_ + length_, want, static_cast<off_t>(at));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        read_error_ = errno;
        return false;
    }
    if (n == 0) {
        at_end_ = true;
        ended_early_ = limit_ != kToEnd && at < limit_;
        return true;
    }
    // One search of what was read (while it is in the cache) spares every line of the block its own.
    nul_free_ = (length_ == 0 || nul_free_) &&
                std::memchr(block_ + length_, '\0', static_cast<std::size_t>(n)) == nullptr;
    length_ += static_cast<std::size_t>(n);
    if (limit_ != kToEnd && base_ + length_ >= limit_) at_end_ = true;
    return true;
}

bool LineCursor::skip_rest_of_line() {
    for (;;) {
        base_ += length_;
        length_ = 0;
        pos_ = 0;
        if (at_end_) return true;  // the line ends where the input does
        if (!read_more()) return false;
        if (const void* nl = std::memchr(block_, '\n', length_)) {
            pos_ = static_cast<std::size_t>(static_cast<const char*>(nl) - block_) + 1;
            return true;
        }
    }
}

}  // namespace pdblines
