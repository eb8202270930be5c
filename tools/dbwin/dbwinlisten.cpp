// dbwinlisten [seconds]: prints "<pid>: <text>" for every debug-output message until the
// time runs out (default: until the console is closed or Ctrl+C).
#include "DbwinListener.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    brimlock_test::DbwinListener listener;
    if (!listener.start()) {
        std::fprintf(stderr, "dbwinlisten: cannot own DBWIN_BUFFER (error %lu); is another viewer running?\n",
                     GetLastError());
        return 1;
    }
    const long seconds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : -1;
    const DWORD start = GetTickCount();
    size_t shown = 0;
    while (seconds < 0 || GetTickCount() - start < DWORD(seconds) * 1000) {
        listener.waitFor([&](const std::vector<brimlock_test::DebugLine>& l) { return l.size() > shown; },
                         std::chrono::milliseconds(200));
        const auto lines = listener.lines();
        for (; shown < lines.size(); ++shown) {
            std::printf("%lu: %s", lines[shown].processId, lines[shown].text.c_str());
            if (lines[shown].text.empty() || lines[shown].text.back() != '\n') {
                std::printf("\n");
            }
        }
        std::fflush(stdout);
    }
    return 0;
}
