// Fortran unformatted sequential files (DelPhi's phi maps, UHBD's binary grids): each record is its
// length in bytes, its bytes, and its length again. The length is a 4-byte integer for most compilers and
// an 8-byte one for some older ones, in the writing machine's byte order: all four layouts are read.
#ifndef VOXMOL_DX_FORMATS_FORTRAN_RECORDS_H
#define VOXMOL_DX_FORMATS_FORTRAN_RECORDS_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "dx/formats/format.h"
#include "dx/io/bytes.h"
#include "dx/io/lines.h"

namespace gridfmt {

struct RecordLayout {
    int marker_bytes = 4;  // 4 or 8
    bool swap = false;     // the markers and numbers are in the other byte order than this machine's
    bool big_endian() const { return swap == (std::endian::native == std::endian::little); }
    std::string text() const {
        return std::string(big_endian() ? "big-endian" : "little-endian") +
               (marker_bytes == 8 ? ", 8-byte record markers" : "");
    }
};

// The length a record marker at `p` gives in `layout`.
inline std::uint64_t marker_value(const char* p, const RecordLayout& layout) {
    return layout.marker_bytes == 8 ? io::load<std::uint64_t>(p, layout.swap)
                                    : io::load<std::uint32_t>(p, layout.swap);
}

// The layout in which the file in `prefix` starts with a record of exactly `length` bytes, closed by the
// same marker; empty when none does.
inline std::optional<RecordLayout> layout_of_first_record(std::string_view prefix, std::uint64_t length) {
    for (int bytes : {4, 8}) {
        for (bool swap : {false, true}) {
            const RecordLayout layout{bytes, swap};
            const std::size_t b = static_cast<std::size_t>(bytes);
            if (prefix.size() < 2 * b + length) continue;
            if (marker_value(prefix.data(), layout) == length &&
                marker_value(prefix.data() + b + length, layout) == length)
                return layout;
        }
    }
    return std::nullopt;
}

// The records of a stream, read in order. Every problem is fatal, with a message that names `format`.
class FortranRecords {
  public:
    FortranRecords(io::BlockReader& in, std::string format) : in_(in), format_(std::move(format)) {}

    // The bytes left to read when the file's size is known.
    std::optional<std::uint64_t> bytes_left() const {
        const auto rest = in_.bytes_left();
        if (!rest) return std::nullopt;
        return *rest + (pending_.size() - at_);
    }

    // Opens the file's first record, which must be `length` bytes long: its markers tell the layout, as
    // the detector found it (layout_of_first_record).
    void open_first(std::uint64_t length, const std::string& what) {
        pending_.resize(static_cast<std::size_t>(16 + length));
        pending_.resize(in_.read(pending_.data(), pending_.size()));
        const auto layout = layout_of_first_record(pending_, length);
        if (!layout)
            fail("The " + format_ + " file does not start with " + what + " (a record of " +
                 std::to_string(length) + " bytes)");
        layout_ = *layout;
        open(what);
    }

    const RecordLayout& layout() const { return layout_; }

    // Opens the next record and returns its length; the end of the file there is fatal, naming `what`.
    std::uint64_t open(const std::string& what) {
        char marker[8];
        const std::size_t b = static_cast<std::size_t>(layout_.marker_bytes);
        const std::size_t got = raw_read(marker, b);
        if (got == 0) fail("The " + format_ + " file ends before " + what);
        if (got < b) fail("The " + format_ + " file ends inside the record marker of " + what);
        length_ = marker_value(marker, layout_);
        left_ = length_;
        what_ = what;
        return length_;
    }

    // Opens a record that must be exactly `length` bytes long.
    void open_exactly(std::uint64_t length, const std::string& what) {
        if (open(what) != length) {
            fail(formatted("The %s file's record of %s holds %llu bytes, not the %llu it should",
                           format_.c_str(), what.c_str(), static_cast<unsigned long long>(length_),
                           static_cast<unsigned long long>(length)));
        }
    }

    // Whether the stream has ended (where a record would open).
    bool at_end() {
        if (at_ < pending_.size()) return false;
        pending_.resize(1);
        at_ = 0;
        if (in_.read(pending_.data(), 1) == 1) return false;
        pending_.clear();
        return true;
    }

    // Reads `n` bytes of the open record into dst.
    void read(char* dst, std::size_t n) {
        if (n > left_) {
            fail(formatted("The %s file's record of %s holds %llu bytes, fewer than the %llu it needs",
                           format_.c_str(), what_.c_str(), static_cast<unsigned long long>(length_),
                           static_cast<unsigned long long>(length_ - left_ + n)));
        }
        const std::size_t got = raw_read(dst, n);
        if (got < n) {
            fail(formatted("The %s file ends inside the record of %s, after %llu of its %llu bytes",
                           format_.c_str(), what_.c_str(),
                           static_cast<unsigned long long>(length_ - left_ + got),
                           static_cast<unsigned long long>(length_)));
        }
        left_ -= n;
    }

    // Closes the record: every byte of it read, and the closing marker the same as the opening one.
    void close() {
        if (left_ != 0) {
            fail(formatted("The %s file's record of %s holds %llu bytes, more than the %llu it needs",
                           format_.c_str(), what_.c_str(), static_cast<unsigned long long>(length_),
                           static_cast<unsigned long long>(length_ - left_)));
        }
        char marker[8];
        const std::size_t b = static_cast<std::size_t>(layout_.marker_bytes);
        if (raw_read(marker, b) < b)
            fail("The " + format_ + " file ends before the closing record marker of " + what_);
        const std::uint64_t closing = marker_value(marker, layout_);
        if (closing != length_) {
            fail(formatted(
                "The %s file's record of %s opens with the length %llu and closes with %llu: the file is "
                "damaged",
                format_.c_str(), what_.c_str(), static_cast<unsigned long long>(length_),
                static_cast<unsigned long long>(closing)));
        }
    }

  private:
    // Up to `n` bytes of the stream, those taken ahead first.
    std::size_t raw_read(char* dst, std::size_t n) {
        const std::size_t ahead = std::min(n, pending_.size() - at_);
        std::memcpy(dst, pending_.data() + at_, ahead);
        at_ += ahead;
        return ahead + (n > ahead ? in_.read(dst + ahead, n - ahead) : 0);
    }

    io::BlockReader& in_;
    RecordLayout layout_{};
    std::string format_;
    std::uint64_t length_ = 0;  // of the open record
    std::uint64_t left_ = 0;    // bytes of it not read yet
    std::string what_;
    std::string pending_;  // bytes taken ahead of the reads: the first record, the byte at_end() took
    std::size_t at_ = 0;   // of them handed out
};

}  // namespace gridfmt

#endif  // VOXMOL_DX_FORMATS_FORTRAN_RECORDS_H
