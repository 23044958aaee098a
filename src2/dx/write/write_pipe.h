// Output through a few large buffers, written out by a second thread: while one buffer is being filled
// with records, the kernel copies the last full one into the file on the other core.
#ifndef VOXMOL_DX_WRITE_WRITE_PIPE_H
#define VOXMOL_DX_WRITE_WRITE_PIPE_H

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace writepipe {

// Whether formatting records and writing them out on two threads pays: on a machine of more than one
// core. The one place this is decided, for write_pdb, the run and the Python module.
bool second_thread_pays();

class WritePipe {
  public:
    // `threaded` false writes each buffer in the calling thread as it is handed over (the plain path,
    // which the tests compare the threaded one with). Buffers are `buffer_size` bytes, `count` of them;
    // short of memory or of a thread, one small buffer written in turn. Buffers of 1 MiB stay in the
    // cache while they are filled and while the kernel copies them out, where buffers of 4 MiB went to
    // memory and back: about a tenth less time for the whole 200^3 conversion.
    WritePipe(std::FILE* file, bool threaded, std::size_t buffer_size = std::size_t{1} << 20, int count = 4);
    ~WritePipe();  // finishes: everything handed over is written before it returns
    WritePipe(const WritePipe&) = delete;
    WritePipe& operator=(const WritePipe&) = delete;

    // The buffer to fill, and its size.
    char* buffer() { return buffers_[current_].get(); }
    std::size_t buffer_size() const { return buffer_size_; }
    // Hands over the first `used` bytes of the current buffer to be written, in order, and makes a free
    // buffer the current one (waiting for the writer when none is free).
    void submit(std::size_t used);
    // Waits until everything handed over is written.
    void finish();

  private:
    struct Job {
        int buffer;
        std::size_t used;
    };
    void allocate(int count);
    void run();

    static constexpr std::size_t kSmallBuffer = std::size_t{64} << 10;

    std::FILE* file_;
    std::size_t buffer_size_;
    std::vector<std::unique_ptr<char[]>> buffers_;
    int current_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> full_;  // handed over, not yet written, in order
    std::deque<int> free_;  // written, ready to be filled again
    bool busy_ = false;     // the writer holds a job
    bool closing_ = false;
    int write_errno_ = 0;  // the writer's errno when a write failed
    std::thread writer_;   // not started for the plain path
};

}  // namespace writepipe

#endif  // VOXMOL_DX_WRITE_WRITE_PIPE_H
