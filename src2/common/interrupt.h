// A host's chance to stop long work between two blocks of it. The library calls check_interrupt() where
// stopping is safe: between the blocks a grid file is read in, between the columns of records the writer
// formats. A host whose user may stop a call (the Python module: Ctrl-C) sets a check for the thread
// that does the work; the check returns when the work may go on, and throws to stop it. The exception
// unwinds the work as a fatal error does: the reader's buffers are freed and an output being written is
// dropped, so an earlier output stands.
//
// No check is set by default. Then check_interrupt() costs one thread-local load, and other threads (the
// writer's second thread) never run the check of the thread that set it.
#ifndef VOXMOL_COMMON_INTERRUPT_H
#define VOXMOL_COMMON_INTERRUPT_H

using InterruptCheck = void (*)();

namespace interrupt_detail {
extern thread_local InterruptCheck current;
}  // namespace interrupt_detail

// Runs the calling thread's check, if one is set.
inline void check_interrupt() {
    if (const InterruptCheck check = interrupt_detail::current) check();
}

// While it lives, `check` is the calling thread's check (nullptr: none).
class InterruptCheckScope {
  public:
    explicit InterruptCheckScope(InterruptCheck check) : previous_(interrupt_detail::current) {
        interrupt_detail::current = check;
    }
    ~InterruptCheckScope() { interrupt_detail::current = previous_; }
    InterruptCheckScope(const InterruptCheckScope&) = delete;
    InterruptCheckScope& operator=(const InterruptCheckScope&) = delete;

  private:
    InterruptCheck previous_;
};

#endif  // VOXMOL_COMMON_INTERRUPT_H
