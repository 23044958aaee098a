// The input layer: a data file as a stream of bytes, decompressed as it is read when it is compressed,
// so that no format reader ever sees a compression. Sources read forward only; the first bytes are kept
// for recognising the format and are served again, so the file is read once, from a pipe as well.
#ifndef VOXMOL_DX_IO_INPUT_H
#define VOXMOL_DX_IO_INPUT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace io {

// A stream of bytes read forward. A read error, or a compressed stream that is corrupt or truncated, is
// fatal, with a message that says so.
class Source {
  public:
    virtual ~Source() = default;
    // Copies up to `n` bytes into `dst` and returns how many: at least one while the stream lasts (what a
    // pipe holds now, say), 0 only at its end.
    virtual std::size_t read(char* dst, std::size_t n) = 0;
    // How many bytes are left when that is known without reading them (a plain file); empty otherwise
    // (a pipe, a decompressed stream).
    virtual std::optional<std::uint64_t> bytes_left() const { return std::nullopt; }
};

// A stdio stream, read from its current position; the caller keeps it open and closes it.
class StdioSource final : public Source {
  public:
    explicit StdioSource(std::FILE* file) : file_(file) {}
    std::size_t read(char* dst, std::size_t n) override;
    std::optional<std::uint64_t> bytes_left() const override;

  private:
    std::FILE* file_;
};

// One compression the input layer undoes: recognised by the first bytes of the file, decompressed as a
// stream (concatenated streams read as one, as the usual command-line tools read them).
struct Compression {
    std::string_view name;   // "gzip", as the run names it
    std::string_view magic;  // the first bytes of every compressed file
    std::unique_ptr<Source> (*open)(std::unique_ptr<Source> compressed);
};

// The compressions the input layer undoes, in the order their magic bytes are tried.
std::span<const Compression> compressions();

// An open data file: `source` gives its (decompressed) bytes from the start; `prefix` holds the first
// `prefix_size` of them (fewer when the file is shorter), for recognising the format.
struct Input {
    std::unique_ptr<Source> source;
    std::string compression;  // the Compression's name, empty for a plain file
    std::string prefix;
};

// Opens `name`: false (and errno set) when it cannot be opened. A read error, later too, is fatal ("I
// cannot read the input data file").
bool open_input(const char* name, std::size_t prefix_size, Input& input);

// The gzip compression (RFC 1952 members, through zlib).
std::unique_ptr<Source> gzip_source(std::unique_ptr<Source> compressed);
// The bzip2 compression (through libbzip2).
std::unique_ptr<Source> bzip2_source(std::unique_ptr<Source> compressed);
// The xz compression (.xz streams, through liblzma).
std::unique_ptr<Source> xz_source(std::unique_ptr<Source> compressed);

[[noreturn]] void read_failure();

}  // namespace io

#endif  // VOXMOL_DX_IO_INPUT_H
