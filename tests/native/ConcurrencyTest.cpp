// The name rules keep no shared state: passes on several threads (as two watchers' passes
// and the notification threads would) use them side by side. Meant for the ThreadSanitizer
// build; in the others it checks that every thread gets the single-thread answer.
#include "HostileText.h"
#include "_model/_service/Paths.h"
#include "_model/_service/_guard/NameRules.h"
#include "_process/DialogCommandLine.h"
#include "_win32/Ports.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <type_traits>
#include <vector>

using namespace tamselsvc::model::service;
using brimlock_native::HostileText;

namespace {

struct Answer {
    std::wstring stem, extension, parent, chosen, commandLine;
    bool contains;
};

Answer work(const std::wstring& path, const std::vector<std::wstring>& stems)
{
    std::unordered_set<std::wstring> taken{lowerStemOfPath(path)};
    const std::wstring name = fileNameOf(path);
    return {stemOf(name),
            extensionOf(name),
            parentOf(path),
            findFreeNumberedName(parentOf(path), stemOf(name), extensionOf(name), taken),
            tamselsvc::process::formatDialogCommandLine(L"C:\\brimlockdlg.exe", L"/normal", path),
            stemContainsAny(path, stems)};
}

} // namespace

TEST(NameRulesConcurrency, ThreadsGetTheSameAnswersAsOneThread)
{
    HostileText random(11);
    const std::vector<std::wstring> stems{L"program", L"program files", L"quarrow"};
    std::vector<std::wstring> paths;
    for (int i = 0; i < 400; ++i) {
        paths.push_back(L"C:\\" + random.text(30));
    }
    std::vector<Answer> expected;
    for (const auto& path : paths) {
        expected.push_back(work(path, stems));
    }
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int repeat = 0; repeat < 20; ++repeat) {
                for (size_t i = 0; i < paths.size(); ++i) {
                    const Answer a = work(paths[i], stems);
                    const Answer& e = expected[i];
                    if (a.stem != e.stem || a.extension != e.extension || a.parent != e.parent ||
                        a.chosen != e.chosen || a.commandLine != e.commandLine || a.contains != e.contains) {
                        ++mismatches[t];
                    }
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(0, mismatches[t]) << "thread " << t;
    }
}

namespace {

struct CounterPorts {
    int (*value)();
};
int realValue() { return 1; }
int fakeValue() { return 2; }
int innerValue() { return 3; }

Corvane::Orlin::Ports<CounterPorts> counterPorts{CounterPorts{&realValue}};

} // namespace

// A seam's override is in force for its scope only, nests, and is swapped atomically:
// threads calling through the seam meanwhile see one whole set or the other.
TEST(PortsOverride, ScopedNestedAndSeenWholeByOtherThreads)
{
    using Override = Corvane::Orlin::Ports<CounterPorts>::Override;
    // The set in force is held by address: a temporary set is refused at compile time.
    static_assert(std::is_constructible<Override, Corvane::Orlin::Ports<CounterPorts>&, const CounterPorts&>::value &&
                      !std::is_constructible<Override, Corvane::Orlin::Ports<CounterPorts>&, CounterPorts&&>::value,
                  "an override takes a named set only");
    ASSERT_EQ(1, counterPorts().value());
    std::atomic<bool> done{false};
    std::atomic<int> odd{0};
    std::thread reader([&] {
        while (!done.load()) {
            const int v = counterPorts().value();
            if (v < 1 || v > 3) {
                odd.fetch_add(1);
            }
        }
    });
    const CounterPorts fake{&fakeValue};
    const CounterPorts inner{&innerValue};
    for (int i = 0; i < 2000; ++i) {
        Override outerScope(counterPorts, fake);
        ASSERT_EQ(2, counterPorts().value());
        {
            Override innerScope(counterPorts, inner);
            ASSERT_EQ(3, counterPorts().value());
            ASSERT_EQ(1, counterPorts.real().value());
        }
        ASSERT_EQ(2, counterPorts().value());
    }
    done.store(true);
    reader.join();
    EXPECT_EQ(1, counterPorts().value());
    EXPECT_EQ(0, odd.load());
}
