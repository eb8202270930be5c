#include "Figures.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace brimlock_test {

double percentile(std::vector<double> values, double p)
{
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * (values.size() - 1) + 0.5));
    return values[index];
}

double nowMs()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return double(counter.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

void printMedianLine(const char* what, const std::vector<double>& runs)
{
    printf("  %-62s median %7.2f ms, 95th percentile %7.2f ms\n", what, percentile(runs, 0.5), percentile(runs, 0.95));
}

} // namespace brimlock_test
