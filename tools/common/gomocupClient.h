#pragma once

#include <string>
#include <sys/types.h>

// One brain process driven through its standard input and output, as a match
// manager does. Every read has a deadline, so a brain that hangs or dies can
// never hang the caller. The brain's standard error goes to /dev/null.

namespace tools {

enum class ReadStatus { Line, Timeout, Closed };

class BrainProcess {
  public:
    BrainProcess() = default;
    ~BrainProcess();
    BrainProcess(const BrainProcess&)            = delete;
    BrainProcess& operator=(const BrainProcess&) = delete;

    // Starts the executable at `path` with no arguments. False if the pipes or
    // the process could not be made; a path that cannot be executed shows up
    // later as a closed connection.
    bool start(const std::string& path);

    // Writes `line` and a line feed. False if the brain no longer listens.
    bool send(const std::string& line);

    // The next line without its line end, waiting at most `timeoutMs`.
    ReadStatus readLine(std::string* line, int timeoutMs);

    // Sends END, gives the brain `graceMs` to exit, then kills it; always reaps.
    // Returns how it ended: empty for exit status 0 within the grace, else
    // "exit status N", "signal N" or "still running after END".
    std::string stop(int graceMs);

    bool isRunning() const { return pid > 0; }

    // Whether the process has not ended yet; once it has, it is reaped and
    // *how says how it ended (as stop() does).
    bool checkAlive(std::string* how);

    // The process's resident memory in kB (VmRSS), or -1 when unknown.
    long residentKb() const;

    // Processor time the process has used so far (user and system), in ms at
    // the kernel's tick resolution (usually 10 ms), or -1 when unknown. Set
    // against a move's wall time it tells a slow brain from a starved one.
    long cpuMs() const;

  private:
    bool takeBufferedLine(std::string* line);
    void closePipes();
    void kill();

    pid_t       pid       = -1;
    int         toBrain   = -1; // owned: write end of the brain's stdin
    int         fromBrain = -1; // owned: read end of the brain's stdout
    std::string pending;        // bytes read but not yet returned as a line
};

} // namespace tools
