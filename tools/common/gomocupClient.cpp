#include "tools/common/gomocupClient.h"

#include "util/platform.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace tools {

namespace {

// A brain that exits while we write must give a failed write, not SIGPIPE.
void ignoreBrokenPipes() {
    static const bool done = [] {
        std::signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)done;
}

// "" for a normal exit with status 0, else what ended the process.
std::string describeEnd(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status) == 0 ? "" : "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status));
    return "unknown end";
}

void closeFd(int* fd) {
    if (*fd >= 0)
        close(*fd);
    *fd = -1;
}

} // namespace

BrainProcess::~BrainProcess() {
    kill();
}

bool BrainProcess::start(const std::string& path) {
    ignoreBrokenPipes();
    kill();
    pending.clear();
    int input[2], output[2];
    if (pipe2(input, O_CLOEXEC) != 0)
        return false;
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        return false;
    }
    pid = fork();
    if (pid < 0) {
        close(input[0]);
        close(input[1]);
        close(output[0]);
        close(output[1]);
        return false;
    }
    if (pid == 0) {
        // Child: only async-signal-safe calls until exec. Its own process
        // group lets kill() take down anything the brain started as well.
        setpgid(0, 0);
        dup2(input[0], STDIN_FILENO);
        dup2(output[1], STDOUT_FILENO);
        const int devNull = open("/dev/null", O_WRONLY);
        if (devNull >= 0)
            dup2(devNull, STDERR_FILENO);
        execl(path.c_str(), path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(input[0]);
    close(output[1]);
    toBrain   = input[1];
    fromBrain = output[0];
    return true;
}

bool BrainProcess::send(const std::string& line) {
    if (toBrain < 0)
        return false;
    const std::string text = line + "\n";
    size_t            done = 0;
    while (done < text.size()) {
        const ssize_t n = write(toBrain, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool BrainProcess::takeBufferedLine(std::string* line) {
    const size_t end = pending.find('\n');
    if (end == std::string::npos)
        return false;
    *line = pending.substr(0, end);
    pending.erase(0, end + 1);
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    return true;
}

ReadStatus BrainProcess::readLine(std::string* line, int timeoutMs) {
    const int deadline = tovu::getTickCount() + (timeoutMs < 0 ? 0 : timeoutMs);
    while (!takeBufferedLine(line)) {
        if (fromBrain < 0)
            return ReadStatus::Closed;
        const int left = deadline - tovu::getTickCount();
        if (left <= 0)
            return ReadStatus::Timeout;
        pollfd    waiter = {fromBrain, POLLIN, 0};
        const int ready  = poll(&waiter, 1, left);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            continue; // the deadline check above decides
        char          chunk[4096];
        const ssize_t n = read(fromBrain, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            closeFd(&fromBrain);
            continue;
        }
        pending.append(chunk, static_cast<size_t>(n));
    }
    return ReadStatus::Line;
}

std::string BrainProcess::stop(int graceMs) {
    if (pid <= 0)
        return "";
    send("END");
    closeFd(&toBrain);
    std::string how      = "still running after END";
    const int   deadline = tovu::getTickCount() + graceMs;
    while (checkAlive(&how) && tovu::getTickCount() < deadline)
        usleep(2000);
    kill();
    return how;
}

bool BrainProcess::checkAlive(std::string* how) {
    if (pid <= 0)
        return false;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != pid)
        return true;
    pid  = -1;
    *how = describeEnd(status);
    return false;
}

long BrainProcess::residentKb() const {
    if (pid <= 0)
        return -1;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string   key;
    long          value = -1;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 16, '\n');
    }
    return -1;
}

long BrainProcess::cpuMs() const {
    if (pid <= 0)
        return -1;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string   text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The command name (field 2) may hold spaces; the fields after it are
    // counted from its closing parenthesis: utime and stime are fields 14, 15.
    const size_t nameEnd = text.rfind(')');
    if (nameEnd == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(nameEnd + 1));
    std::string        skipped;
    for (int field = 3; field < 14; ++field)
        fields >> skipped;
    long long  userTicks = -1, systemTicks = -1;
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    if (!(fields >> userTicks >> systemTicks) || ticksPerSecond <= 0)
        return -1;
    return static_cast<long>((userTicks + systemTicks) * 1000 / ticksPerSecond);
}

void BrainProcess::closePipes() {
    closeFd(&toBrain);
    closeFd(&fromBrain);
}

void BrainProcess::kill() {
    closePipes();
    if (pid > 0) {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    pid = -1;
    pending.clear();
}

} // namespace tools
