#include "TestProcess.h"

#include "_win32/UniqueHandle.h"

#include <thread>

namespace brimlock_test {

using Corvane::Orlin::UniqueHandle;

ProcessResult runProcess(const std::wstring& commandLine, DWORD timeoutMs, bool captureOutput)
{
    ProcessResult result;
    UniqueHandle readEnd, writeEnd;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (captureOutput) {
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0)) {
            return result;
        }
        SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writeEnd.get();
        startup.hStdError = writeEnd.get();
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    }
    std::wstring writable = commandLine;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, &writable[0], nullptr, nullptr, captureOutput, 0, nullptr, nullptr, &startup,
                        &info)) {
        return result;
    }
    UniqueHandle process(info.hProcess), thread(info.hThread);
    result.started = true;
    result.processId = info.dwProcessId;
    writeEnd.reset();

    std::thread reader;
    if (captureOutput) {
        reader = std::thread([&] {
            char chunk[4096];
            DWORD got = 0;
            while (ReadFile(readEnd.get(), chunk, sizeof(chunk), &got, nullptr) && got) {
                result.output.append(chunk, got);
            }
        });
    }
    result.finished = WaitForSingleObject(process.get(), timeoutMs) == WAIT_OBJECT_0;
    if (!result.finished) {
        TerminateProcess(process.get(), 0xDEAD);
        WaitForSingleObject(process.get(), 5000);
    }
    GetExitCodeProcess(process.get(), &result.exitCode);
    if (reader.joinable()) {
        reader.join();
    }
    return result;
}

StartedProcess startProcess(const std::wstring& commandLine)
{
    StartedProcess started;
    std::wstring writable = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (CreateProcessW(nullptr, &writable[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        started.process.reset(info.hProcess);
        CloseHandle(info.hThread);
        started.processId = info.dwProcessId;
    }
    return started;
}

} // namespace brimlock_test
