#pragma once
// Deterministic random command lines for the dialog program: quotes, backslashes, empty
// and long items, "%" and non-ASCII characters, valid switches and near misses.

#include <random>
#include <string>
#include <vector>

namespace dialog_test {

struct FuzzLine {
    // The arguments after the program path, as they go on the command line.
    std::wstring arguments;
    // True when the line was built from known items (then `items` is what the split must
    // give, program path first); false for raw character soup.
    bool structured = false;
    std::vector<std::wstring> items;
};

class FuzzCommandLines {
public:
    explicit FuzzCommandLines(unsigned seed) : _random(seed) {}

    // `programPath` becomes item 0 (quoted when it holds a space).
    FuzzLine next(const std::wstring& programPath);

private:
    size_t below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(_random); }
    std::wstring randomItem();
    std::wstring randomSoup();

    std::mt19937 _random;
};

// The exit code the rules give for these items: 1, 2, 3, or 0 (shown).
int exitCodeFor(const std::vector<std::wstring>& items);

} // namespace dialog_test
