// Opening a data file: compression recognised from the first bytes and undone as a stream, and the first
// bytes of the result kept for recognising the format.
#include "dx/io/input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "common/fatal.h"

namespace io {

void read_failure() {
    run_failed("I cannot read the input data file");
}

namespace {

// The compressions the input layer undoes, by their magic bytes.
const Compression kCompressions[] = {
    {"gzip", std::string_view("\x1f\x8b", 2), gzip_source},
    {"bzip2", "BZh", bzip2_source},
    {"xz",
     std::string_view("\xfd"
                      "7zXZ\0",
                      6),
     xz_source},
};

// A file read through its descriptor, in the large reads the readers ask for.
class FileSource final : public Source {
  public:
    explicit FileSource(int fd) : fd_(fd) {}
    ~FileSource() override { ::close(fd_); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::size_t read(char* dst, std::size_t n) override {
        for (;;) {
            const ssize_t r = ::read(fd_, dst, std::min<std::size_t>(n, std::size_t{1} << 30));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) read_failure();
            at_ += static_cast<std::uint64_t>(r);
            return static_cast<std::size_t>(r);
        }
    }

    std::optional<std::uint64_t> bytes_left() const override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
        const auto size = static_cast<std::uint64_t>(st.st_size);
        return size > at_ ? size - at_ : 0;
    }

  private:
    int fd_;
    std::uint64_t at_ = 0;  // bytes read so far
};

// Bytes already taken from a source, served again before the rest of it.
class Replay final : public Source {
  public:
    Replay(std::string bytes, std::unique_ptr<Source> rest)
        : bytes_(std::move(bytes)), rest_(std::move(rest)) {}

    std::size_t read(char* dst, std::size_t n) override {
        if (at_ == bytes_.size()) return rest_->read(dst, n);
        const std::size_t got = std::min(n, bytes_.size() - at_);
        std::memcpy(dst, bytes_.data() + at_, got);
        at_ += got;
        return got;
    }

    std::optional<std::uint64_t> bytes_left() const override {
        const auto rest = rest_->bytes_left();
        if (!rest) return std::nullopt;
        return *rest + (bytes_.size() - at_);
    }

  private:
    std::string bytes_;
    std::size_t at_ = 0;
    std::unique_ptr<Source> rest_;
};

// Up to `n` bytes from the start of `source`; what it holds is then served again by the returned source.
std::string take_prefix(std::unique_ptr<Source>& source, std::size_t n) {
    std::string prefix(n, '\0');
    std::size_t got = 0;
    while (got < n) {
        const std::size_t r = source->read(prefix.data() + got, n - got);
        if (r == 0) break;
        got += r;
    }
    prefix.resize(got);
    source = std::make_unique<Replay>(prefix, std::move(source));
    return prefix;
}

}  // namespace

std::size_t StdioSource::read(char* dst, std::size_t n) {
    const std::size_t got = std::fread(dst, 1, n, file_);
    if (got < n && std::ferror(file_)) read_failure();
    return got;
}

std::optional<std::uint64_t> StdioSource::bytes_left() const {
    // A stream that is no plain file (a pipe, a stream in memory) has no size to go by.
    const int fd = ::fileno(file_);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    const off_t at = ::ftello(file_);
    if (at < 0) return std::nullopt;
    return st.st_size > at ? static_cast<std::uint64_t>(st.st_size - at) : 0;
}

std::span<const Compression> compressions() {
    return kCompressions;
}

bool open_input(const char* name, std::size_t prefix_size, Input& input) {
    input = Input{};
    const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::unique_ptr<Source> source = std::make_unique<FileSource>(fd);
    std::size_t longest_magic = 0;
    for (const Compression& c : kCompressions)
        longest_magic = std::max(longest_magic, c.magic.size());
    const std::string magic = take_prefix(source, longest_magic);
    for (const Compression& c : kCompressions) {
        if (magic.starts_with(c.magic)) {
            input.compression = c.name;
            source = c.open(std::move(source));
            break;
        }
    }
    input.prefix = take_prefix(source, prefix_size);
    input.source = std::move(source);
    return true;
}

}  // namespace io
