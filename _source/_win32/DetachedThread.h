#pragma once
// A thread that nobody joins, made directly with _beginthreadex; its handle is closed at
// once. Not std::thread(...).detach(): with the mingw-w64 posix thread library, a detach
// that meets a thread just starting or ending can hand the thread's bookkeeping to another
// thread; under load a new thread then started with a null argument and the process died
// (a null read in the thread routine of the C++ runtime), or a body never ran. Threads
// made this way do not go through that bookkeeping.

#include <functional>

namespace Corvane { namespace Orlin {

// Runs `body` on a new thread and returns without waiting for it. Raises std::system_error
// (resource_unavailable_try_again) when no thread can be made; `body` then never runs.
// An exception that leaves `body` ends the process, as it would on a std::thread.
void StartDetachedThread(std::function<void()> body);

}} // namespace Corvane::Orlin
