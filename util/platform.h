#pragma once

// The one place that talks to the operating system: its clock, the console's
// byte handling and the location of the running executable.

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

// Sets up standard input and output for the line protocol. On Windows,
// standard input is switched to binary so the line reader sees every byte as
// sent (in text mode a Ctrl-Z byte would end the input and CR LF pairs would be
// rewritten before the reader's own handling), and standard output is kept in
// text mode so every answer's line feed goes out as CR LF, the line end Windows
// managers read. Elsewhere the streams pass bytes unchanged already.
void prepareConsole();

// The path of the running executable, for finding files installed beside it.
// On Windows this is the full path the system loaded the module from, so it
// does not depend on how the manager spelled the command line; elsewhere, and
// if the system cannot tell, it is argv0. Valid for the life of the process.
const char* executablePath(const char* argv0);

} // namespace tovu
