#pragma once

// The one place that talks to the operating system's clock. Everything that
// needs time reads this counter and works with differences of its readings.

namespace tovu {

// Milliseconds of a monotonic clock, as an int. Only differences between two
// readings are meaningful.
int getTickCount();

// Milliseconds from the reading `start` to the reading `now`, taken modulo
// 2^32 as the counter itself wraps: a reading taken after the counter passed
// its largest value still gives the short time that really went by, never
// minutes in either direction.
inline int ticksBetween(int start, int now) {
    return static_cast<int>(static_cast<unsigned>(now) - static_cast<unsigned>(start));
}

} // namespace tovu
