// Opening a data file: gzip decompressed as a stream, and the first bytes kept for recognising the format.
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "dx/formats/format.h"
#include "common/fatal.h"

namespace gridfmt {

namespace {

[[noreturn]] void read_failure() {
    run_failed("I cannot read the input data file");
}

// A gzip-compressed stream decompressed as it is read, so that every reader (the native one included)
// takes it as it takes a plain file. Concatenated gzip members read as one stream, as gunzip reads them.
struct Gzip final : Layer {
    std::FILE* source = nullptr;
    z_stream z{};
    bool open = false;
    bool member_ended = false;  // the last member ended: only a next member, or the end, may follow
    bool finished = false;      // the end, or bytes after the last member that start no other
    std::unique_ptr<Bytef[]> in = std::make_unique_for_overwrite<Bytef[]>(kInSize);
    static constexpr std::size_t kInSize = 1 << 17;

    ~Gzip() override {
        if (open) inflateEnd(&z);
    }

    [[noreturn]] static void corrupt(const char* why) {
        std::string message = "The gzip-compressed data file is corrupt or truncated";
        if (why != nullptr) message += std::string(" (") + why + ")";
        run_failed(message);
    }

    bool start() {
        z = z_stream{};
        open = inflateInit2(&z, 16 + MAX_WBITS) == Z_OK;  // 16: a gzip wrapper, not zlib's own
        member_ended = finished = false;
        return open;
    }

    bool fill() {
        const std::size_t n = std::fread(in.get(), 1, kInSize, source);
        if (n == 0 && std::ferror(source)) read_failure();
        z.next_in = in.get();
        z.avail_in = static_cast<uInt>(n);
        return n > 0;
    }

    ssize_t read(char* buf, std::size_t size) {
        z.next_out = reinterpret_cast<Bytef*>(buf);
        z.avail_out = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        const uInt wanted = z.avail_out;
        while (z.avail_out == wanted && !finished) {
            if (z.avail_in == 0 && !fill()) {
                if (!member_ended) corrupt("it ends inside the compressed data");
                break;
            }
            if (member_ended) {
                // Bytes after a member: another member when they start with the gzip magic; anything
                // else (padding some tools add) ends the data, as gunzip ends it.
                if (z.next_in[0] != 0x1f) {
                    finished = true;
                    break;
                }
                if (inflateReset(&z) != Z_OK) corrupt(nullptr);
                member_ended = false;
            }
            const int r = inflate(&z, Z_NO_FLUSH);
            if (r == Z_STREAM_END) {
                member_ended = true;
            } else if (r != Z_OK && r != Z_BUF_ERROR) {
                corrupt(z.msg);
            }
        }
        return static_cast<ssize_t>(wanted - z.avail_out);
    }
};

ssize_t gzip_read(void* cookie, char* buf, size_t size) {
    return static_cast<Gzip*>(cookie)->read(buf, size);
}

// Only a return to the start is needed (to read the file again after its prefix was looked at).
int gzip_seek(void* cookie, off64_t* offset, int whence) {
    auto* g = static_cast<Gzip*>(cookie);
    if (whence != SEEK_SET || *offset != 0 || std::fseek(g->source, 0, SEEK_SET) != 0) return -1;
    inflateEnd(&g->z);
    if (!g->start()) return -1;
    return 0;
}

int gzip_close(void* cookie) {
    return std::fclose(static_cast<Gzip*>(cookie)->source);
}

// Bytes taken from a stream that cannot seek back (a pipe), served again before the rest of it.
struct Replay final : Layer {
    std::string bytes;
    std::size_t at = 0;
    std::FILE* rest = nullptr;
};

ssize_t replay_read(void* cookie, char* buf, size_t size) {
    auto* r = static_cast<Replay*>(cookie);
    if (r->at < r->bytes.size()) {
        const std::size_t n = std::min(size, r->bytes.size() - r->at);
        std::memcpy(buf, r->bytes.data() + r->at, n);
        r->at += n;
        return static_cast<ssize_t>(n);
    }
    const std::size_t n = std::fread(buf, 1, size, r->rest);
    if (n == 0 && std::ferror(r->rest)) return -1;
    return static_cast<ssize_t>(n);
}

int replay_close(void* cookie) {
    return std::fclose(static_cast<Replay*>(cookie)->rest);
}

// `file` read again from its start: sought back when it can be, else through a replay of `taken`.
std::FILE* from_start(std::FILE* file, std::string_view taken, Input& input) {
    if (std::fseek(file, 0, SEEK_SET) == 0) return file;
    auto replay = std::make_unique<Replay>();
    replay->bytes = taken;
    replay->rest = file;
    std::FILE* again = ::fopencookie(replay.get(), "r", {replay_read, nullptr, nullptr, replay_close});
    if (again == nullptr) {
        std::fclose(file);
        return nullptr;
    }
    input.layers.push_back(std::move(replay));
    return again;
}

std::FILE* decompressed(std::FILE* file, Input& input) {
    auto gzip = std::make_unique<Gzip>();
    gzip->source = file;
    std::FILE* stream = nullptr;
    if (gzip->start()) stream = ::fopencookie(gzip.get(), "r", {gzip_read, nullptr, gzip_seek, gzip_close});
    if (stream == nullptr) {
        std::fclose(file);
        return nullptr;
    }
    input.layers.push_back(std::move(gzip));
    return stream;
}

}  // namespace

bool open_input(const char* name, Input& input) {
    input = Input{};
    // `input` owns the stream at every step, each layer taking over the one below it, so that a fatal
    // error that a host turns into an exception (the Python module) still closes the file.
    input.stream.reset(std::fopen(name, "r"));
    if (!input.stream) return false;
    char magic[2] = {0, 0};
    const std::size_t got = std::fread(magic, 1, 2, input.stream.get());
    if (std::ferror(input.stream.get())) read_failure();
    input.gzip = got == 2 && magic[0] == '\x1f' && magic[1] == '\x8b';
    input.stream.reset(from_start(input.stream.release(), std::string_view(magic, got), input));
    if (input.stream && input.gzip) input.stream.reset(decompressed(input.stream.release(), input));
    if (!input.stream) return false;

    input.prefix.resize(kPrefixSize);
    input.prefix.resize(std::fread(input.prefix.data(), 1, kPrefixSize, input.stream.get()));
    if (std::ferror(input.stream.get())) read_failure();
    input.stream.reset(from_start(input.stream.release(), input.prefix, input));
    return input.stream != nullptr;
}

}  // namespace gridfmt
