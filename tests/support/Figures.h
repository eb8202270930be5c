#pragma once
// Small helpers for the programs that print figures (benchmarks, stress runs).

#include <vector>

namespace brimlock_test {

// The value at fraction `p` (0 to 1) of the sorted values, nearest rank; 0 for none.
double percentile(std::vector<double> values, double p);
// A monotonic clock in milliseconds (QueryPerformanceCounter).
double nowMs();
// One line of figures: "  <what>  median ... ms, 95th percentile ... ms".
void printMedianLine(const char* what, const std::vector<double>& runs);

} // namespace brimlock_test
