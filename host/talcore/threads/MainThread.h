// The host's main thread and its task queue.
//
// The host declares its main thread; until it does, the thread that first loaded the platform is
// the main thread. Work posted from other threads runs when the host pumps the queue, which it does
// in its event loop and inside modal loops.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>

#include "talcore/TalExport.h"

namespace talcore::threads {

// [any-thread] True on the host's main thread.
TAL_API bool CurrentThreadIsMainThread();

// [any-thread] Queues `task` for the main thread.
TAL_API void PostToMainThread(std::function<void()> task);

// Host side. [main-thread-to-be] Makes the calling thread the main thread.
TAL_API void DeclareMainThread();

// Host side. [main-thread] Runs the tasks queued so far (and any they queue); returns how many ran.
TAL_API std::size_t PumpMainThreadTasks();

// Host side. [main-thread] Runs queued tasks as they arrive until `done` returns true or `deadline`
// passes; returns done(). `done` is checked after every task and at least every few milliseconds.
TAL_API bool PumpMainThreadTasksUntil(const std::function<bool()>& done,
                                      std::chrono::steady_clock::time_point deadline);

// [any-thread] Wakes a thread blocked in PumpMainThreadTasksUntil so that it checks `done` again.
TAL_API void WakeMainThread();

}  // namespace talcore::threads
