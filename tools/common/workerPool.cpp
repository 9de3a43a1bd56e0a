#include "tools/common/workerPool.h"

#include <cerrno>
#include <csignal>
#include <map>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tools {

namespace {

struct Worker {
    pid_t                pid = -1;
    int                  fd  = -1; // read end of its result pipe
    std::vector<uint8_t> pending;  // bytes of a frame not yet complete
    bool                 open = false;
};

bool writeAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

uint32_t get32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void put32(std::vector<uint8_t>* out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out->push_back(static_cast<uint8_t>((v >> (8 * i)) & 0xff));
}

// The worker's life: its share of the jobs, each result framed as
// [uint32 index][uint32 length][bytes].
[[noreturn]] void workerMain(int fd, int first, int count, int stride, const PoolJob& job) {
    for (int i = first; i < first + count; i += stride) {
        const std::vector<uint8_t> result = job(i);
        std::vector<uint8_t>       frame;
        put32(&frame, static_cast<uint32_t>(i));
        put32(&frame, static_cast<uint32_t>(result.size()));
        frame.insert(frame.end(), result.begin(), result.end());
        if (!writeAll(fd, frame.data(), frame.size()))
            _exit(1);
    }
    close(fd);
    _exit(0);
}

// Moves the complete frames of `worker` into `done`.
void takeFrames(Worker* worker, std::map<int, std::vector<uint8_t>>* done) {
    size_t at = 0;
    while (worker->pending.size() - at >= 8) {
        const uint32_t index  = get32(&worker->pending[at]);
        const uint32_t length = get32(&worker->pending[at + 4]);
        if (worker->pending.size() - at - 8 < length)
            break;
        const auto begin = worker->pending.begin() + static_cast<long>(at + 8);
        (*done)[static_cast<int>(index)].assign(begin, begin + length);
        at += 8 + length;
    }
    worker->pending.erase(worker->pending.begin(), worker->pending.begin() + static_cast<long>(at));
}

void endWorkers(std::vector<Worker>* workers) {
    for (Worker& w : *workers) {
        if (w.fd >= 0)
            close(w.fd);
        if (w.pid > 0) {
            kill(w.pid, SIGTERM);
            waitpid(w.pid, nullptr, 0);
        }
    }
}

bool runInline(int first, int count, const PoolJob& job, const PoolConsumer& consume) {
    for (int i = first; i < first + count; ++i)
        if (!consume(i, job(i)))
            break;
    return true;
}

} // namespace

bool runJobs(int workers, int first, int count, const PoolJob& job, const PoolConsumer& consume,
             std::string* error) {
    if (count <= 0)
        return true;
    if (workers > count)
        workers = count;
    if (workers <= 1)
        return runInline(first, count, job, consume);

    std::vector<Worker> pool(static_cast<size_t>(workers));
    for (int w = 0; w < workers; ++w) {
        int ends[2];
        if (pipe(ends) != 0) {
            *error = "cannot make a pipe";
            endWorkers(&pool);
            return false;
        }
        const pid_t pid = fork();
        if (pid == 0) {
            close(ends[0]);
            for (int k = 0; k < w; ++k)
                close(pool[static_cast<size_t>(k)].fd);
            workerMain(ends[1], first + w, count - w, workers, job);
        }
        close(ends[1]);
        pool[static_cast<size_t>(w)].pid  = pid;
        pool[static_cast<size_t>(w)].fd   = ends[0];
        pool[static_cast<size_t>(w)].open = pid > 0;
        if (pid < 0) {
            *error = "cannot start a worker process";
            endWorkers(&pool);
            return false;
        }
    }

    std::map<int, std::vector<uint8_t>> done;
    int                                 next = first;
    bool                                ok   = true;
    while (next < first + count && ok) {
        std::vector<pollfd> fds;
        std::vector<size_t> owner;
        for (size_t k = 0; k < pool.size(); ++k) {
            if (pool[k].open) {
                fds.push_back(pollfd{pool[k].fd, POLLIN, 0});
                owner.push_back(k);
            }
        }
        if (fds.empty()) {
            *error = "a worker ended before its games were done";
            ok     = false;
            break;
        }
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            *error = "poll failed";
            ok     = false;
            break;
        }
        for (size_t k = 0; k < fds.size(); ++k) {
            if (fds[k].revents == 0)
                continue;
            Worker&       w = pool[owner[k]];
            uint8_t       chunk[65536];
            const ssize_t n = read(w.fd, chunk, sizeof chunk);
            if (n > 0) {
                w.pending.insert(w.pending.end(), chunk, chunk + n);
                takeFrames(&w, &done);
            } else if (n == 0 || errno != EINTR) {
                w.open = false; // finished, or died: the count of results decides
            }
        }
        for (auto it = done.find(next); it != done.end(); it = done.find(next)) {
            const bool goOn = consume(next, it->second);
            done.erase(it);
            ++next;
            if (!goOn) {
                endWorkers(&pool);
                return true;
            }
        }
    }
    endWorkers(&pool);
    return ok;
}

} // namespace tools
