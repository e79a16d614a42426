#pragma once
// Work shared out over threads: the engine's one way to run independent
// pieces of work at once. The calling thread always works too, so the work
// gets done even when the system gives no thread at all (a process limit,
// no memory): a thread that cannot be started is one fewer to share with.

#include <cstddef>
#include <functional>
#include <thread>

namespace vorel {

// Calls fn(i, worker) once for every i in [0, n), on up to `maxWorkers`
// threads, the calling one among them, and returns when every call has
// returned. `worker` numbers the thread a call runs on, from 0 (the calling
// thread) to below maxWorkers, so that work can keep its own state per
// thread without locking. When a call throws, the pieces not yet handed
// out are left undone, and parallelFor throws the first exception once
// every thread has stopped.
void parallelFor(std::size_t n, std::size_t maxWorkers, const std::function<void(std::size_t i, std::size_t worker)>& fn);

// As many workers as the machine has cores (1 when it does not say).
std::size_t coreCount();

// How parallelFor starts a thread: as std::thread does, throwing
// std::system_error when the system refuses. Tests put in one that refuses;
// null puts std::thread back.
using ThreadStarter = std::thread (*)(std::function<void()> body);
void setThreadStarter(ThreadStarter starter);

}  // namespace vorel
