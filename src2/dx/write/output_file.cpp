#include "dx/write/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

namespace outfile {

namespace {

// The names of the temporary files being written, for remove_temporaries(): fixed slots, so that a signal
// handler reads them without a lock and without touching memory that another thread may free.
struct Slot {
    std::atomic<bool> used{false};
    std::atomic<bool> named{false};
    char path[PATH_MAX];
};
std::array<Slot, 16> slots;

// A slot holding `path`, or -1 when all are taken (the file is then still removed by its OutputFile,
// only not by a signal's handler).
int claim_slot(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        bool free = false;
        if (slots[i].used.compare_exchange_strong(free, true)) {
            std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
            slots[i].named.store(true);
            return static_cast<int>(i);
        }
    }
    return -1;
}

void release_slot(int& slot) {
    if (slot < 0) return;
    slots[static_cast<std::size_t>(slot)].named.store(false);
    slots[static_cast<std::size_t>(slot)].used.store(false);
    slot = -1;
}

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return path.substr(0, slash == 0 ? 1 : slash);
}

// The file `path` names once symbolic links are followed (a link's target may not exist yet: fopen would
// create it). False, with errno set, when a link cannot be read or the links loop.
bool follow_links(std::string path, std::string& target, struct stat& st, bool& exists) {
    for (int hops = 0; hops < 40; ++hops) {
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno != ENOENT) return false;
            exists = false;
            target = path;
            return true;
        }
        if (!S_ISLNK(st.st_mode)) {
            exists = true;
            target = path;
            return true;
        }
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
        if (n < 0) return false;
        link.resize(static_cast<std::size_t>(n));
        path = link.starts_with('/') ? link : folder_of(path) + "/" + link;
    }
    errno = ELOOP;
    return false;
}

// The process's umask, read without changing it (another thread may be creating files).
mode_t current_umask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// A hidden name beside the output that no file has yet, for the temporary.
std::string temporary_name(const std::string& folder) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::minstd_rand random(std::random_device{}());
    std::string name = folder + "/.voxmol-";
    for (int i = 0; i < 6; ++i)
        name += kLetters[random() % (sizeof kLetters - 1)];
    return name;
}

}  // namespace

void remove_temporaries() noexcept {
    for (Slot& s : slots) {
        if (s.named.load()) ::unlink(s.path);
    }
}

OutputFile::~OutputFile() {
    discard();
}

bool OutputFile::open(const std::string& path) {
    discard();
    struct stat st {};
    bool exists = false;
    if (!follow_links(path, target_, st, exists)) return false;
    if (exists && !S_ISREG(st.st_mode)) {
        // A FIFO, a device or a terminal takes the bytes as they come; a folder is refused by fopen.
        direct_ = true;
        file_ = std::fopen(path.c_str(), "w");
        return file_ != nullptr;
    }
    // fopen would refuse a file this process may not write; so does the replacement.
    if (exists && ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) return false;
    folder_ = folder_of(target_);
    const mode_t mode = exists ? (st.st_mode & 07777) : (0666 & ~current_umask());
    if (!open_temporary(folder_, mode)) return false;
    // Replacing another user's file (as root): the new one keeps its owner where the system allows it.
    if (exists && (st.st_uid != ::geteuid() || st.st_gid != ::getegid()))
        (void)!::fchown(::fileno(file_), st.st_uid, st.st_gid);
    return true;
}

bool OutputFile::open_descriptor(int fd) {
    discard();
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (copy < 0) return false;
    file_ = ::fdopen(copy, "w");
    if (file_ == nullptr) {
        const int e = errno;
        ::close(copy);
        errno = e;
        return false;
    }
    direct_ = true;
    return true;
}

bool OutputFile::open_temporary(const std::string& folder, unsigned mode) {
    int fd = -1;
    // An unnamed file is linked into place through /proc; without /proc it could never be linked.
    if (::access("/proc/self/fd", X_OK) == 0) {
        fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (fd < 0 && (errno == ENOENT || errno == EACCES || errno == EROFS || errno == ENOTDIR))
            return false;
    }
    unnamed_ = fd >= 0;
    if (!unnamed_) {
        temporary_ = folder + "/.voxmol-XXXXXX";
        fd = ::mkostemp(temporary_.data(), O_CLOEXEC);
        if (fd < 0) {
            temporary_.clear();
            return false;
        }
        slot_ = claim_slot(temporary_);
    }
    file_ = ::fdopen(fd, "w");
    if (file_ == nullptr || ::fchmod(fd, static_cast<mode_t>(mode)) != 0) {
        const int e = errno;
        if (file_ == nullptr) ::close(fd);
        discard();
        errno = e;
        return false;
    }
    return true;
}

// Gives the unnamed file a temporary name beside the output, so that it can replace the output by rename.
bool OutputFile::put_in_place() {
    const std::string proc = "/proc/self/fd/" + std::to_string(::fileno(file_));
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = temporary_name(folder_);
        const int slot = claim_slot(name);
        if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            temporary_ = std::move(name);
            slot_ = slot;
            return true;
        }
        const int e = errno;
        int unused = slot;
        release_slot(unused);
        errno = e;
        if (e != EEXIST) return false;
    }
    return false;
}

bool OutputFile::commit() {
    if (file_ == nullptr) {
        errno = EBADF;
        return false;
    }
    if (direct_) {
        const bool written = std::fflush(file_) == 0 && std::ferror(file_) == 0;
        const int e = errno;
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        direct_ = false;
        if (!written) errno = e != 0 ? e : EIO;
        return written && closed;
    }
    bool ok = std::fflush(file_) == 0 && std::ferror(file_) == 0;
    int e = ok ? 0 : (errno != 0 ? errno : EIO);
    if (ok && unnamed_) {
        ok = put_in_place();
        if (!ok) e = errno;
    }
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (ok && !closed) {
        ok = false;
        e = errno;
    }
    if (ok && std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        ok = false;
        e = errno;
    }
    if (!ok) {
        discard();
        errno = e;
        return false;
    }
    release_slot(slot_);
    temporary_.clear();
    return true;
}

void OutputFile::discard() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
    release_slot(slot_);
    unnamed_ = false;
    direct_ = false;
}

}  // namespace outfile
