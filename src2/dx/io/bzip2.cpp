// bzip2-compressed input, decompressed as it is read. Concatenated bzip2 streams read as one, as bunzip2
// reads them; bytes after the last stream that start no other end the data (bunzip2 warns of them and
// keeps what it decompressed).
#include <bzlib.h>

#include <algorithm>
#include <memory>
#include <string>

#include "common/fatal.h"
#include "dx/io/input.h"

namespace io {

namespace {

// libbzip2's reason for an error code, as the message names it.
const char* bzip2_reason(int code) {
    switch (code) {
        case BZ_DATA_ERROR:
            return "data integrity error in the compressed data";
        case BZ_DATA_ERROR_MAGIC:
            return "the compressed data does not start with the bzip2 magic";
        case BZ_MEM_ERROR:
            return "out of memory";
        case BZ_PARAM_ERROR:
            return "bad parameter";
        case BZ_CONFIG_ERROR:
            return "libbzip2 is miscompiled";
        default:
            return "unexpected error";
    }
}

class Bzip2Source final : public Source {
  public:
    explicit Bzip2Source(std::unique_ptr<Source> compressed) : compressed_(std::move(compressed)) { start(); }
    ~Bzip2Source() override {
        if (open_) BZ2_bzDecompressEnd(&z_);
    }
    Bzip2Source(const Bzip2Source&) = delete;
    Bzip2Source& operator=(const Bzip2Source&) = delete;

    std::size_t read(char* dst, std::size_t n) override {
        std::size_t done = 0;
        while (done < n && !finished_) {
            // libbzip2 counts in 32 bits: a larger request is served in parts.
            z_.next_out = dst + done;
            z_.avail_out = static_cast<unsigned>(std::min<std::size_t>(n - done, 1u << 30));
            const unsigned wanted = z_.avail_out;
            decompress_some();
            done += wanted - z_.avail_out;
        }
        return done;
    }

  private:
    void start() {
        const int r = BZ2_bzDecompressInit(&z_, 0, 0);
        if (r != BZ_OK) corrupt(bzip2_reason(r));
        open_ = true;
    }

    // Fills z_'s output space, or stops at the end of the data.
    void decompress_some() {
        while (z_.avail_out > 0 && !finished_) {
            if (z_.avail_in == 0 && !fill()) {
                if (!stream_ended_) corrupt("it ends inside the compressed data");
                finished_ = true;
                break;
            }
            if (stream_ended_) {
                // Another stream when the bytes start with the bzip2 magic "BZh"; anything else ends the
                // data.
                if (z_.next_in[0] != 'B') {
                    finished_ = true;
                    break;
                }
                // A fresh decompressor for it, on the same input and output.
                const bz_stream at = z_;
                BZ2_bzDecompressEnd(&z_);
                open_ = false;
                z_ = bz_stream{};
                start();
                z_.next_in = at.next_in;
                z_.avail_in = at.avail_in;
                z_.next_out = at.next_out;
                z_.avail_out = at.avail_out;
                stream_ended_ = false;
            }
            const int r = BZ2_bzDecompress(&z_);
            if (r == BZ_STREAM_END) {
                stream_ended_ = true;
            } else if (r != BZ_OK) {
                corrupt(bzip2_reason(r));
            }
        }
    }

    [[noreturn]] static void corrupt(const char* why) {
        run_failed(std::string("The bzip2-compressed data file is corrupt or truncated (") + why + ")");
    }

    bool fill() {
        const std::size_t got = compressed_->read(in_.get(), kInSize);
        z_.next_in = in_.get();
        z_.avail_in = static_cast<unsigned>(got);
        return got > 0;
    }

    static constexpr std::size_t kInSize = 1 << 17;
    std::unique_ptr<Source> compressed_;
    bz_stream z_{};
    bool open_ = false;          // z_ holds a decompressor to end
    bool stream_ended_ = false;  // the last stream ended: only a next stream, or the end, may follow
    bool finished_ = false;      // the end, or bytes after the last stream that start no other
    std::unique_ptr<char[]> in_ = std::make_unique_for_overwrite<char[]>(kInSize);
};

}  // namespace

std::unique_ptr<Source> bzip2_source(std::unique_ptr<Source> compressed) {
    return std::make_unique<Bzip2Source>(std::move(compressed));
}

}  // namespace io
