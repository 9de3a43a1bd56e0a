#pragma once

// Test fixtures for playing through the real brain executable:
// - BrainDir: a temporary directory holding a copy of the brain and, when
//   asked, a small generated network.bin beside it, so a test controls the
//   weight file the brain reads;
// - BrainSession: a running brain spoken to line by line, as a manager does
//   during a game (send a command, wait for the answer with a deadline).

#include "network/weightFile.h"
#include "util/platform.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace gametest {

inline std::vector<char> tinyNetworkImage(unsigned seed = 11) {
    return depnn::makeRandomWeightImage(20, 2, 16, 8, seed);
}

class BrainDir {
  public:
    BrainDir() {
        char pattern[] = "/tmp/quoribo-game-XXXXXX";
        if (mkdtemp(pattern) != nullptr)
            dir = pattern;
        std::ifstream source(QUORIBO_BIN_DIR "/pbrain-quoribo", std::ios::binary);
        std::ofstream copy(executable(), std::ios::binary);
        copy << source.rdbuf();
        copy.close();
        chmod(executable().c_str(), 0755);
    }
    ~BrainDir() {
        std::remove(networkPath().c_str());
        std::remove(executable().c_str());
        rmdir(dir.c_str());
    }
    BrainDir(const BrainDir&)            = delete;
    BrainDir& operator=(const BrainDir&) = delete;

    std::string executable() const { return dir + "/pbrain-quoribo"; }
    std::string networkPath() const { return dir + "/network.bin"; }

    bool writeNetwork(const std::vector<char>& image) const {
        return depnn::writeWeightFile(networkPath().c_str(), image);
    }
    bool writeNetwork() const { return writeNetwork(tinyNetworkImage()); }
    void removeNetwork() const { std::remove(networkPath().c_str()); }

    std::string dir;
};

class BrainSession {
  public:
    explicit BrainSession(const std::string& executable) {
        int toBrain[2], fromBrain[2];
        if (pipe(toBrain) != 0 || pipe(fromBrain) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            dup2(toBrain[0], STDIN_FILENO);
            dup2(fromBrain[1], STDOUT_FILENO);
            for (int fd : {toBrain[0], toBrain[1], fromBrain[0], fromBrain[1]})
                close(fd);
            execl(executable.c_str(), executable.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(toBrain[0]);
        close(fromBrain[1]);
        input  = toBrain[1];
        output = fromBrain[0];
        signal(SIGPIPE, SIG_IGN);
    }

    ~BrainSession() {
        if (input >= 0)
            close(input);
        if (output >= 0)
            close(output);
        if (pid > 0 && !reaped) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    BrainSession(const BrainSession&)            = delete;
    BrainSession& operator=(const BrainSession&) = delete;

    bool send(const std::string& line) {
        const std::string text = line + "\n";
        size_t            done = 0;
        while (done < text.size()) {
            const ssize_t n = write(input, text.data() + done, text.size() - done);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // The next output line without its line feed; false when none arrives
    // before the deadline or the brain closed its output.
    bool readLine(std::string* line, int timeoutMs) {
        const int deadline = tovu::getTickCount() + timeoutMs;
        for (;;) {
            const size_t end = pending.find('\n');
            if (end != std::string::npos) {
                *line = pending.substr(0, end);
                pending.erase(0, end + 1);
                return true;
            }
            const int left = deadline - tovu::getTickCount();
            if (left <= 0)
                return false;
            pollfd fds = {output, POLLIN, 0};
            if (poll(&fds, 1, left) <= 0)
                continue;
            char          chunk[4096];
            const ssize_t n = read(output, chunk, sizeof(chunk));
            if (n <= 0)
                return false;
            pending.append(chunk, static_cast<size_t>(n));
        }
    }

    // Sends a command and returns its answer ("" when none came in time).
    std::string ask(const std::string& command, int timeoutMs = 10000) {
        std::string answer;
        if (!send(command) || !readLine(&answer, timeoutMs))
            return "";
        return answer;
    }

    // Waits for the process to end; its exit status, or -1.
    int finish(int timeoutMs = 10000) {
        close(input);
        input              = -1;
        const int deadline = tovu::getTickCount() + timeoutMs;
        int       status   = 0;
        while (tovu::getTickCount() < deadline) {
            const pid_t ended = waitpid(pid, &status, WNOHANG);
            if (ended == pid) {
                reaped = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(1000);
        }
        return -1;
    }

  private:
    pid_t       pid    = -1;
    int         input  = -1;
    int         output = -1;
    bool        reaped = false;
    std::string pending;
};

// "x,y" on the 20 x 20 board, or false.
inline bool parseMove(const std::string& answer, int* x, int* y) {
    int  consumed = 0;
    char tail     = 0;
    if (std::sscanf(answer.c_str(), "%d,%d%n%c", x, y, &consumed, &tail) != 2)
        return false;
    return consumed == static_cast<int>(answer.size()) && *x >= 0 && *x < 20 && *y >= 0 && *y < 20;
}

} // namespace gametest
