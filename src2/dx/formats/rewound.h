// A stream whose first bytes a reader took to tell which form of its format a file holds (UHBD's binary
// or text form, DSN6 or BRIX), served again before the rest, so that the form's reader starts at the
// beginning.
#ifndef VOXMOL_DX_FORMATS_REWOUND_H
#define VOXMOL_DX_FORMATS_REWOUND_H

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "dx/io/input.h"
#include "dx/io/lines.h"

namespace gridfmt {

class Rewound final : public io::Source {
  public:
    // Takes up to `n` bytes from the start of `in`, which first() then shows.
    Rewound(io::BlockReader& in, std::size_t n) : in_(in), first_(n, '\0') {
        first_.resize(in_.read(first_.data(), n));
    }
    const std::string& first() const { return first_; }

    std::size_t read(char* dst, std::size_t n) override {
        if (at_ < first_.size()) {
            const std::size_t take = std::min(n, first_.size() - at_);
            std::memcpy(dst, first_.data() + at_, take);
            at_ += take;
            return take;
        }
        // What `in_` still holds in its block is handed on by itself: the reads after it then go from
        // the stream straight into `dst` instead of through that block and a copy, every block long.
        if (const std::string_view held = in_.buffered(); !held.empty()) {
            const std::size_t take = std::min(n, held.size());
            std::memcpy(dst, held.data(), take);
            in_.consume(take);
            return take;
        }
        return in_.read(dst, n);
    }
    std::optional<std::uint64_t> bytes_left() const override {
        const auto rest = in_.bytes_left();
        if (!rest) return std::nullopt;
        return *rest + (first_.size() - at_);
    }

  private:
    io::BlockReader& in_;
    std::string first_;
    std::size_t at_ = 0;
};

}  // namespace gridfmt

#endif  // VOXMOL_DX_FORMATS_REWOUND_H
