// xz-compressed input, decompressed as it is read. Concatenated xz streams, and the stream padding between
// them, read as one stream, as unxz reads them (liblzma's LZMA_CONCATENATED); anything else after the last
// stream is corrupt data, as unxz says.
#include <lzma.h>

#include <algorithm>
#include <memory>
#include <string>

#include "common/fatal.h"
#include "dx/io/input.h"

namespace io {

namespace {

// liblzma's reason for an error code, as the message names it.
const char* xz_reason(lzma_ret code) {
    switch (code) {
        case LZMA_MEM_ERROR:
            return "out of memory";
        case LZMA_MEMLIMIT_ERROR:
            return "memory usage limit reached";
        case LZMA_FORMAT_ERROR:
            return "file format not recognized";
        case LZMA_OPTIONS_ERROR:
            return "unsupported compression options";
        case LZMA_DATA_ERROR:
            return "compressed data is corrupt";
        case LZMA_BUF_ERROR:
            return "unexpected end of input";
        case LZMA_UNSUPPORTED_CHECK:
            return "unsupported integrity check";
        default:
            return "internal error";
    }
}

class XzSource final : public Source {
  public:
    explicit XzSource(std::unique_ptr<Source> compressed) : compressed_(std::move(compressed)) {
        // No memory limit (unxz sets none either), every integrity check verified.
        const lzma_ret r = lzma_stream_decoder(&z_, UINT64_MAX, LZMA_CONCATENATED);
        if (r != LZMA_OK) corrupt(xz_reason(r));
    }
    ~XzSource() override { lzma_end(&z_); }
    XzSource(const XzSource&) = delete;
    XzSource& operator=(const XzSource&) = delete;

    std::size_t read(char* dst, std::size_t n) override {
        if (finished_ || n == 0) return 0;
        z_.next_out = reinterpret_cast<std::uint8_t*>(dst);
        z_.avail_out = n;
        while (z_.avail_out > 0 && !finished_) {
            const bool more = z_.avail_in > 0 || fill();
            // At the end of the input, LZMA_FINISH lets the decoder tell a complete stream from a cut one.
            const lzma_ret r = lzma_code(&z_, more ? LZMA_RUN : LZMA_FINISH);
            if (r == LZMA_STREAM_END) {
                finished_ = true;
            } else if (r != LZMA_OK) {
                corrupt(xz_reason(r));
            } else if (!more && z_.avail_out > 0) {
                corrupt("unexpected end of input");
            }
        }
        return n - z_.avail_out;
    }

  private:
    [[noreturn]] static void corrupt(const char* why) {
        run_failed(std::string("The xz-compressed data file is corrupt or truncated (") + why + ")");
    }

    bool fill() {
        const std::size_t got = compressed_->read(reinterpret_cast<char*>(in_.get()), kInSize);
        z_.next_in = in_.get();
        z_.avail_in = got;
        return got > 0;
    }

    static constexpr std::size_t kInSize = 1 << 17;
    std::unique_ptr<Source> compressed_;
    lzma_stream z_ = LZMA_STREAM_INIT;
    bool finished_ = false;
    std::unique_ptr<std::uint8_t[]> in_ = std::make_unique_for_overwrite<std::uint8_t[]>(kInSize);
};

}  // namespace

std::unique_ptr<Source> xz_source(std::unique_ptr<Source> compressed) {
    return std::make_unique<XzSource>(std::move(compressed));
}

}  // namespace io
