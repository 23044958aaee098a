// How far the values of a grid being read are final, so that the records of the points already read
// can be written while the rest of the file is still being read.
#ifndef VOXMOL_DX_VALUE_PROGRESS_H
#define VOXMOL_DX_VALUE_PROGRESS_H

#include <atomic>
#include <cstddef>

struct ValueProgress {
    // Values [0, ready) are final. The reader raises it; the writer follows.
    std::atomic<std::size_t> ready{0};
    // The run ends before the values are all read (a fatal error): the writer stops following.
    std::atomic<bool> abandoned{false};

    void publish(std::size_t n) {
        ready.store(n, std::memory_order_release);
        ready.notify_all();
    }
    void abandon() {
        abandoned.store(true, std::memory_order_release);
        ready.store(static_cast<std::size_t>(-1), std::memory_order_release);
        ready.notify_all();
    }
    // Waits until at least `n` values are final and returns how many are; 0 when abandoned.
    std::size_t wait_for(std::size_t n) const {
        std::size_t now = ready.load(std::memory_order_acquire);
        while (now < n) {
            ready.wait(now, std::memory_order_acquire);
            now = ready.load(std::memory_order_acquire);
        }
        return abandoned.load(std::memory_order_acquire) ? 0 : now;
    }
};

#endif  // VOXMOL_DX_VALUE_PROGRESS_H
