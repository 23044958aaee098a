#include "common/interrupt.h"

namespace interrupt_detail {
thread_local InterruptCheck current = nullptr;
}  // namespace interrupt_detail
