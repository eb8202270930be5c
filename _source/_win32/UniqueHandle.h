#pragma once
// Small RAII owners, one per kind of handle, each closing with the function that kind needs.
// A default-constructed owner holds the kind's "no handle" value; reset() closes what is
// held; release() gives the handle up without closing it.

#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace Corvane { namespace Orlin {

template <typename Traits>
class UniqueAny {
public:
    using pointer = typename Traits::pointer;

    UniqueAny() noexcept = default;
    explicit UniqueAny(pointer value) noexcept : _value(value) {}
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    UniqueAny(UniqueAny&& other) noexcept : _value(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~UniqueAny() { reset(); }

    pointer get() const noexcept { return _value; }
    bool valid() const noexcept { return Traits::isValid(_value); }
    explicit operator bool() const noexcept { return valid(); }

    pointer release() noexcept { return std::exchange(_value, Traits::invalid()); }
    void reset(pointer value = Traits::invalid()) noexcept
    {
        pointer old = std::exchange(_value, value);
        if (Traits::isValid(old)) {
            Traits::close(old);
        }
    }
    // For out-parameters: closes what is held and returns the slot to fill.
    pointer* put() noexcept
    {
        reset();
        return &_value;
    }

private:
    pointer _value = Traits::invalid();
};

// Kernel handles whose "none" is null (events, processes, threads, tokens).
struct KernelHandleTraits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static bool isValid(pointer h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { ::CloseHandle(h); }
};
using UniqueHandle = UniqueAny<KernelHandleTraits>;

// File handles from CreateFileW, whose "none" is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool isValid(pointer h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { ::CloseHandle(h); }
};
using UniqueFile = UniqueAny<FileHandleTraits>;

struct ServiceHandleTraits {
    using pointer = SC_HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static bool isValid(pointer h) noexcept { return h != nullptr; }
    static void close(pointer h) noexcept { ::CloseServiceHandle(h); }
};
using UniqueServiceHandle = UniqueAny<ServiceHandleTraits>;

struct RegKeyTraits {
    using pointer = HKEY;
    static pointer invalid() noexcept { return nullptr; }
    static bool isValid(pointer h) noexcept { return h != nullptr; }
    static void close(pointer h) noexcept { ::RegCloseKey(h); }
};
using UniqueRegKey = UniqueAny<RegKeyTraits>;

struct EventSourceTraits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static bool isValid(pointer h) noexcept { return h != nullptr; }
    static void close(pointer h) noexcept { ::DeregisterEventSource(h); }
};
using UniqueEventSource = UniqueAny<EventSourceTraits>;

struct LocalMemTraits {
    using pointer = HLOCAL;
    static pointer invalid() noexcept { return nullptr; }
    static bool isValid(pointer h) noexcept { return h != nullptr; }
    static void close(pointer h) noexcept { ::LocalFree(h); }
};
using UniqueLocalMem = UniqueAny<LocalMemTraits>;

// Desktops from OpenInputDesktop / OpenDesktopW.
struct DesktopHandleTraits {
    using pointer = HDESK;
    static pointer invalid() noexcept { return nullptr; }
    static bool isValid(pointer h) noexcept { return h != nullptr; }
    static void close(pointer h) noexcept { ::CloseDesktop(h); }
};
using UniqueDesktop = UniqueAny<DesktopHandleTraits>;

// Directory searches from FindFirstFileExW, closed with FindClose.
struct FindHandleTraits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool isValid(pointer h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { ::FindClose(h); }
};
using UniqueFindHandle = UniqueAny<FindHandleTraits>;

// Folder change notifications from FindFirstChangeNotificationW.
struct ChangeNotificationTraits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool isValid(pointer h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { ::FindCloseChangeNotification(h); }
};
using UniqueChangeNotification = UniqueAny<ChangeNotificationTraits>;

// COM interfaces, let go with Release.
template <typename Interface>
struct ComTraits {
    using pointer = Interface*;
    static pointer invalid() noexcept { return nullptr; }
    static bool isValid(pointer p) noexcept { return p != nullptr; }
    static void close(pointer p) noexcept { p->Release(); }
};
template <typename Interface>
using UniqueCom = UniqueAny<ComTraits<Interface>>;

// Strings that COM hands out, freed with SysFreeString.
struct BstrTraits {
    using pointer = BSTR;
    static pointer invalid() noexcept { return nullptr; }
    static bool isValid(pointer p) noexcept { return p != nullptr; }
    static void close(pointer p) noexcept { ::SysFreeString(p); }
};
using UniqueBstr = UniqueAny<BstrTraits>;

}} // namespace Corvane::Orlin
