#include "_win32/LogDebug.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <stdio.h>

namespace Corvane { namespace Orlin {

std::atomic<bool> g_outputToDebugView{false};

namespace {

constexpr size_t kMessageChars = 261; // 260 plus terminator
constexpr size_t kLineChars = 522;

std::atomic<DWORD> s_processIdA{0};
std::atomic<DWORD> s_processIdW{0};

DWORD cachedProcessId(std::atomic<DWORD>& cache)
{
    DWORD pid = cache.load(std::memory_order_relaxed);
    if (pid == 0) {
        pid = GetCurrentProcessId();
        cache.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

// The Windows runtime's own formatters, so that "%s" in a wide format takes a wide
// string and "%S" in a narrow one takes a wide string, as every caller expects. They do
// not terminate a cut text, so one character is kept back for the terminator.
void formatInto(char* buffer, size_t size, const char* format, va_list args)
{
    buffer[0] = '\0';
    _vsnprintf(buffer, size - 1, format, args);
    buffer[size - 1] = '\0';
}

void formatInto(wchar_t* buffer, size_t size, const wchar_t* format, va_list args)
{
    buffer[0] = L'\0';
    _vsnwprintf(buffer, size - 1, format, args);
    buffer[size - 1] = L'\0';
}

void formatLine(char* buffer, size_t size, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    formatInto(buffer, size, format, args);
    va_end(args);
}

void formatLine(wchar_t* buffer, size_t size, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    formatInto(buffer, size, format, args);
    va_end(args);
}

} // namespace

void LogDebugA(const char* format, ...)
{
    const DWORD savedError = GetLastError();
    SYSTEMTIME now;
    GetLocalTime(&now);
    if (!g_outputToDebugView.load(std::memory_order_relaxed)) {
        SetLastError(savedError);
        return;
    }
    char message[kMessageChars];
    va_list args;
    va_start(args, format);
    formatInto(message, kMessageChars, format, args);
    va_end(args);

    char line[kLineChars];
    formatLine(line, kLineChars, "%lu:[%s] %04u/%02u/%02u %02u:%02u:%02u %s\n",
               static_cast<unsigned long>(cachedProcessId(s_processIdA)), "Tamsel",
               unsigned(now.wYear), unsigned(now.wMonth), unsigned(now.wDay),
               unsigned(now.wHour), unsigned(now.wMinute), unsigned(now.wSecond), message);
    OutputDebugStringA(line);
    SetLastError(savedError);
}

void LogDebugW(const wchar_t* format, ...)
{
    const DWORD savedError = GetLastError();
    SYSTEMTIME now;
    GetLocalTime(&now);
    if (!g_outputToDebugView.load(std::memory_order_relaxed)) {
        SetLastError(savedError);
        return;
    }
    wchar_t message[kMessageChars];
    va_list args;
    va_start(args, format);
    formatInto(message, kMessageChars, format, args);
    va_end(args);

    wchar_t line[kLineChars];
    formatLine(line, kLineChars, L"%lu:[%s] %04u/%02u/%02u %02u:%02u:%02u %s\n",
               static_cast<unsigned long>(cachedProcessId(s_processIdW)), L"Tamsel",
               unsigned(now.wYear), unsigned(now.wMonth), unsigned(now.wDay),
               unsigned(now.wHour), unsigned(now.wMinute), unsigned(now.wSecond), message);
    OutputDebugStringW(line);
    SetLastError(savedError);
}

}} // namespace Corvane::Orlin
