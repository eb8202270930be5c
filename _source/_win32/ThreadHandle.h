#pragma once
// The Win32 handle of a std::thread. MSVC's native_handle() is that handle; with the
// mingw posix thread model it is a pthread_t, whose Win32 handle pthread_gethandle() gives.
// The handle stays owned by the thread object.

#include <windows.h>

#include <thread>

#if defined(__MINGW32__) && !defined(_MSC_VER)
#include <pthread.h>
#endif

namespace Corvane { namespace Orlin {

inline HANDLE NativeThreadHandle(std::thread& thread)
{
#if defined(__MINGW32__) && !defined(_MSC_VER)
    return pthread_gethandle(thread.native_handle());
#else
    return static_cast<HANDLE>(thread.native_handle());
#endif
}

}} // namespace Corvane::Orlin
