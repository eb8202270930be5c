#include "LogCapture.h"

#include "_win32/ErrorText.h"

#include <cstdio>

namespace brimlock_test {

std::string errorLine(DWORD code)
{
    char head[64];
    std::snprintf(head, sizeof head, "errorcode=0x%lx(%d), ", static_cast<unsigned long>(code), static_cast<int>(code));
    std::string line = head + Corvane::Orlin::SystemMessageA(code);
    // The system's text ends with a line break, which the capture strips with the line's own.
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

} // namespace brimlock_test
