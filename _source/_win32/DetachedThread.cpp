#include "_win32/DetachedThread.h"

#include <windows.h>

#include <process.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <system_error>

namespace Corvane { namespace Orlin {

namespace {

unsigned __stdcall runDetached(void* parameter)
{
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(parameter));
    try {
        (*body)();
    } catch (...) {
        std::terminate();
    }
    return 0;
}

} // namespace

void StartDetachedThread(std::function<void()> body)
{
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    // _beginthreadex, not CreateThread: the C runtime sets up its per-thread data.
    const std::uintptr_t thread = _beginthreadex(nullptr, 0, &runDetached, owned.get(), 0, nullptr);
    if (thread == 0) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                "cannot start a thread");
    }
    owned.release(); // the thread owns it now
    CloseHandle(reinterpret_cast<HANDLE>(thread));
}

}} // namespace Corvane::Orlin
