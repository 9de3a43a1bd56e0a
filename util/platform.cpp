#include "util/platform.h"

#include <chrono>

namespace tovu {

int getTickCount() {
    using namespace std::chrono;
    // Counted from the first reading in this process, so the int holds 24 days
    // of play before it could overflow, and differences never wrap.
    static const steady_clock::time_point origin = steady_clock::now();
    return static_cast<int>(duration_cast<milliseconds>(steady_clock::now() - origin).count());
}

} // namespace tovu
