#pragma once

// Runs the brain executable as a tournament manager would: the given bytes go
// to its standard input through a pipe, which is then closed, and everything
// it writes to standard output and standard error is collected. A brain that
// has not finished by the deadline is killed, so a hang fails a test instead
// of blocking it.

#include <cerrno>
#include <csignal>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "util/platform.h"

namespace brainprocess {

struct BrainRun {
    std::string out;
    std::string err;
    bool        exited     = false; // ended by exit or return from main
    int         exitStatus = -1;    // valid when exited
    bool        timedOut   = false;
};

inline const char* brainPath() {
    return QUORIBO_BIN_DIR "/pbrain-quoribo";
}

inline void closeIfOpen(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// Appends what fd has to offer to sink; closes fd at end of file.
inline void drain(int& fd, std::string& sink) {
    char          chunk[65536];
    const ssize_t n = read(fd, chunk, sizeof(chunk));
    if (n > 0)
        sink.append(chunk, static_cast<size_t>(n));
    else if (n == 0 || errno != EAGAIN)
        closeIfOpen(fd);
}

inline BrainRun runBrain(const std::string& input, int timeoutMs = 20000,
                         const std::string& executable = brainPath()) {
    BrainRun run;
    int      toBrain[2], fromOut[2], fromErr[2];
    if (pipe(toBrain) != 0 || pipe(fromOut) != 0 || pipe(fromErr) != 0)
        return run;

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(toBrain[0], STDIN_FILENO);
        dup2(fromOut[1], STDOUT_FILENO);
        dup2(fromErr[1], STDERR_FILENO);
        for (int fd : {toBrain[0], toBrain[1], fromOut[0], fromOut[1], fromErr[0], fromErr[1]})
            close(fd);
        signal(SIGPIPE, SIG_DFL);
        execl(executable.c_str(), executable.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(toBrain[0]);
    close(fromOut[1]);
    close(fromErr[1]);
    int writeFd = toBrain[1], outFd = fromOut[0], errFd = fromErr[0];
    if (pid < 0) {
        closeIfOpen(writeFd);
        closeIfOpen(outFd);
        closeIfOpen(errFd);
        return run;
    }

    // A brain that stops reading early (after END) must not kill the test
    // with SIGPIPE; the write then just fails.
    signal(SIGPIPE, SIG_IGN);
    for (int fd : {writeFd, outFd, errFd})
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);

    size_t    written  = 0;
    const int deadline = tovu::getTickCount() + timeoutMs;
    if (input.empty())
        closeIfOpen(writeFd);
    while (outFd >= 0 || errFd >= 0) {
        const int left = deadline - tovu::getTickCount();
        if (left <= 0) {
            run.timedOut = true;
            break;
        }
        pollfd fds[3];
        int    count = 0;
        for (int fd : {outFd, errFd})
            if (fd >= 0)
                fds[count++] = {fd, POLLIN, 0};
        if (writeFd >= 0)
            fds[count++] = {writeFd, POLLOUT, 0};
        if (poll(fds, count, left) < 0 && errno != EINTR)
            break;

        if (writeFd >= 0) {
            const ssize_t n = write(writeFd, input.data() + written, input.size() - written);
            if (n > 0)
                written += static_cast<size_t>(n);
            if ((n < 0 && errno != EAGAIN) || written == input.size())
                closeIfOpen(writeFd);
        }
        if (outFd >= 0)
            drain(outFd, run.out);
        if (errFd >= 0)
            drain(errFd, run.err);
    }
    closeIfOpen(writeFd);
    closeIfOpen(outFd);
    closeIfOpen(errFd);

    // The brain may close its output and still not end; it gets the same deadline.
    int   status = 0;
    pid_t ended  = 0;
    while (!run.timedOut && (ended = waitpid(pid, &status, WNOHANG)) == 0) {
        if (tovu::getTickCount() >= deadline)
            run.timedOut = true;
        else
            usleep(1000);
    }
    if (run.timedOut) {
        kill(pid, SIGKILL);
        ended = waitpid(pid, &status, 0);
    }
    if (ended == pid && !run.timedOut && WIFEXITED(status)) {
        run.exited     = true;
        run.exitStatus = WEXITSTATUS(status);
    }
    return run;
}

} // namespace brainprocess
