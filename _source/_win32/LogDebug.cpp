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

void output(const char* line) { OutputDebugStringA(line); }
void output(const wchar_t* line) { OutputDebugStringW(line); }

constexpr const char* lineFormat(char) { return "%lu:[%s] %04u/%02u/%02u %02u:%02u:%02u %s\n"; }
constexpr const wchar_t* lineFormat(wchar_t) { return L"%lu:[%s] %04u/%02u/%02u %02u:%02u:%02u %s\n"; }
constexpr const char* tag(char) { return "Tamsel"; }
constexpr const wchar_t* tag(wchar_t) { return L"Tamsel"; }

// The steps both variants share; `processId` is the variant's own cache.
template <typename Char>
void writeLine(std::atomic<DWORD>& processId, const Char* format, va_list args)
{
    const DWORD savedError = GetLastError();
    SYSTEMTIME now;
    GetLocalTime(&now);
    if (g_outputToDebugView.load(std::memory_order_relaxed)) {
        Char message[kMessageChars];
        formatInto(message, kMessageChars, format, args);
        Char line[kLineChars];
        formatLine(line, kLineChars, lineFormat(Char()), static_cast<unsigned long>(cachedProcessId(processId)),
                   tag(Char()), unsigned(now.wYear), unsigned(now.wMonth), unsigned(now.wDay), unsigned(now.wHour),
                   unsigned(now.wMinute), unsigned(now.wSecond), message);
        output(line);
    }
    SetLastError(savedError);
}

} // namespace

void LogDebugA(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    writeLine(s_processIdA, format, args);
    va_end(args);
}

void LogDebugW(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    writeLine(s_processIdW, format, args);
    va_end(args);
}

}} // namespace Corvane::Orlin
