#pragma once

// The one place that talks to the operating system's clock. Everything that
// needs time reads this counter and works with differences of its readings.

namespace tovu {

// Milliseconds of a monotonic clock, as an int. Only differences between two
// readings are meaningful.
int getTickCount();

} // namespace tovu
