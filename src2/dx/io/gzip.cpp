// gzip-compressed input, decompressed as it is read. Concatenated gzip members read as one stream, as
// gunzip reads them; bytes after the last member that start no other (padding some tools add) end the
// data, as gunzip ends it.
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <string>

#include "common/fatal.h"
#include "dx/io/input.h"

namespace io {

namespace {

class GzipSource final : public Source {
  public:
    explicit GzipSource(std::unique_ptr<Source> compressed) : compressed_(std::move(compressed)) {
        if (inflateInit2(&z_, 16 + MAX_WBITS) != Z_OK) corrupt(nullptr);  // 16: a gzip wrapper, not zlib's
    }
    ~GzipSource() override { inflateEnd(&z_); }
    GzipSource(const GzipSource&) = delete;
    GzipSource& operator=(const GzipSource&) = delete;

    std::size_t read(char* dst, std::size_t n) override {
        std::size_t done = 0;
        while (done < n && !finished_) {
            // zlib counts in 32 bits: a larger request is served in parts.
            z_.next_out = reinterpret_cast<Bytef*>(dst + done);
            z_.avail_out = static_cast<uInt>(std::min<std::size_t>(n - done, 1u << 30));
            const uInt wanted = z_.avail_out;
            inflate_some();
            done += wanted - z_.avail_out;
        }
        return done;
    }

  private:
    // Fills z_'s output space, or stops at the end of the data.
    void inflate_some() {
        while (z_.avail_out > 0 && !finished_) {
            if (z_.avail_in == 0 && !fill()) {
                if (!member_ended_) corrupt("it ends inside the compressed data");
                finished_ = true;
                break;
            }
            if (member_ended_) {
                // Another member when the bytes start with the gzip magic; anything else ends the data.
                if (z_.next_in[0] != 0x1f) {
                    finished_ = true;
                    break;
                }
                if (inflateReset(&z_) != Z_OK) corrupt(nullptr);
                member_ended_ = false;
            }
            const int r = inflate(&z_, Z_NO_FLUSH);
            if (r == Z_STREAM_END) {
                member_ended_ = true;
            } else if (r != Z_OK && r != Z_BUF_ERROR) {
                corrupt(z_.msg);
            }
        }
    }

    [[noreturn]] static void corrupt(const char* why) {
        std::string message = "The gzip-compressed data file is corrupt or truncated";
        if (why != nullptr) message += std::string(" (") + why + ")";
        run_failed(message);
    }

    bool fill() {
        const std::size_t got = compressed_->read(reinterpret_cast<char*>(in_.get()), kInSize);
        z_.next_in = in_.get();
        z_.avail_in = static_cast<uInt>(got);
        return got > 0;
    }

    static constexpr std::size_t kInSize = 1 << 17;
    std::unique_ptr<Source> compressed_;
    z_stream z_{};
    bool member_ended_ = false;  // the last member ended: only a next member, or the end, may follow
    bool finished_ = false;      // the end, or bytes after the last member that start no other
    std::unique_ptr<Bytef[]> in_ = std::make_unique_for_overwrite<Bytef[]>(kInSize);
};

}  // namespace

std::unique_ptr<Source> gzip_source(std::unique_ptr<Source> compressed) {
    return std::make_unique<GzipSource>(std::move(compressed));
}

}  // namespace io
