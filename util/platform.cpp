#include "util/platform.h"

#include <chrono>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace tovu {

int getTickCount() {
    using namespace std::chrono;
    // Counted from the first reading in this process, so the int holds 24 days
    // of play before it could overflow, and differences never wrap.
    static const steady_clock::time_point origin = steady_clock::now();
    return static_cast<int>(duration_cast<milliseconds>(steady_clock::now() - origin).count());
}

#ifdef _WIN32

void prepareConsole() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_TEXT);
}

const char* executablePath(const char* argv0) {
    // The longest path Windows can hand out, terminating NUL included.
    static char path[32768];
    const DWORD size   = sizeof(path);
    const DWORD length = GetModuleFileNameA(nullptr, path, size);
    // 0 is a failure, and a full buffer means the path was cut short.
    return length > 0 && length < size ? path : argv0;
}

#else

void prepareConsole() {}

const char* executablePath(const char* argv0) {
    return argv0;
}

#endif

} // namespace tovu
