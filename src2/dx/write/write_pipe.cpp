#include "dx/write/write_pipe.h"

#include <cerrno>
#include <new>
#include <system_error>

namespace writepipe {

bool second_thread_pays() {
    return std::thread::hardware_concurrency() > 1;
}

WritePipe::WritePipe(std::FILE* file, bool threaded, std::size_t buffer_size, int count)
    : file_(file), buffer_size_(buffer_size) {
    if (!threaded) count = 1;
    try {
        allocate(count);
    } catch (const std::bad_alloc&) {
        // Short of memory: one small buffer, written in turn, gives the same bytes.
        buffers_.clear();
        free_.clear();
        buffer_size_ = kSmallBuffer;
        threaded = false;
        allocate(1);
    }
    if (threaded) {
        try {
            writer_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            // No thread to be had: each buffer is written in turn by the caller, the same bytes.
        }
    }
}

void WritePipe::allocate(int count) {
    for (int b = 0; b < count; ++b) {
        // Not cleared: only what the caller puts there is written out.
        buffers_.push_back(std::make_unique_for_overwrite<char[]>(buffer_size_));
        if (b > 0) free_.push_back(b);
    }
}

WritePipe::~WritePipe() {
    finish();
    if (writer_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
        }
        changed_.notify_all();
        writer_.join();
    }
    // The writing thread's errno is its own: the reason a write failed (ENOSPC, EFBIG) is handed to the
    // thread that goes on to close the file and report it.
    if (write_errno_ != 0) errno = write_errno_;
}

void WritePipe::submit(std::size_t used) {
    if (!writer_.joinable()) {
        if (used > 0) std::fwrite(buffers_[current_].get(), 1, used, file_);
        return;
    }
    std::unique_lock lock(mutex_);
    if (used > 0)
        full_.push_back({current_, used});
    else
        free_.push_back(current_);
    changed_.notify_all();
    changed_.wait(lock, [this] { return !free_.empty(); });
    current_ = free_.front();
    free_.pop_front();
}

void WritePipe::finish() {
    if (!writer_.joinable()) return;
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return full_.empty() && !busy_; });
}

void WritePipe::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !full_.empty() || closing_; });
        if (full_.empty()) return;  // closing, and nothing left to write
        const Job job = full_.front();
        full_.pop_front();
        busy_ = true;
        lock.unlock();
        // A failure shows in ferror(file); its reason is kept for the thread that closes the file.
        if (std::fwrite(buffers_[job.buffer].get(), 1, job.used, file_) < job.used) write_errno_ = errno;
        lock.lock();
        busy_ = false;
        free_.push_back(job.buffer);
        changed_.notify_all();
    }
}

}  // namespace writepipe
