#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Runs numbered jobs in worker processes and hands their results back in job
// order. Processes rather than threads: the engine's search draws from the C
// runtime's global generator, which each game seeds for itself, so every
// worker needs a generator of its own for a game to depend only on its seed.

namespace tools {

// Job `index` → its result bytes. Runs in a worker process; state it builds
// (an agent with its network) stays in that worker for its later jobs.
using PoolJob = std::function<std::vector<uint8_t>(int index)>;
// Called in the calling process, in job order; false stops the pool (the
// workers are ended and the remaining jobs dropped).
using PoolConsumer = std::function<bool(int index, const std::vector<uint8_t>& result)>;

// Jobs first .. first + count - 1 on `workers` processes, worker w taking
// first + w, first + w + workers, ... With one worker the jobs run in the
// calling process. False, with a reason in `error`, when a worker dies or
// its results cannot be read.
bool runJobs(int workers, int first, int count, const PoolJob& job, const PoolConsumer& consume,
             std::string* error);

} // namespace tools
