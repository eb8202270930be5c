// Properties of the name rules over many hostile names (native build, under the
// sanitizers): the pieces of a name add up, the lower-casing touches A to Z only, and the
// free-name search never hands out a taken key and takes the first free one.
#include "HostileText.h"
#include "_model/_service/Paths.h"
#include "_model/_service/_guard/NameRules.h"

#include <gtest/gtest.h>

using namespace tamselsvc::model::service;
using brimlock_native::HostileText;

namespace {

constexpr int kRounds = 20000;

std::wstring cutAtColon(const std::wstring& name)
{
    return name.substr(0, name.find(L':'));
}

// Reference versions, written out here so that the search is checked against something
// other than itself.
std::wstring lowerAToZ(std::wstring text)
{
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    return text;
}

} // namespace

TEST(NameRulesProperties, StemAndExtensionMakeUpTheNameBeforeAnyStream)
{
    HostileText random(1);
    for (int round = 0; round < kRounds; ++round) {
        const std::wstring path = random.text(300);
        const std::wstring name = fileNameOf(path);
        ASSERT_EQ(std::wstring::npos, name.find_first_of(L"\\/"));
        ASSERT_EQ(0, path.compare(path.size() - name.size(), name.size(), name));
        const std::wstring stem = stemOf(name);
        const std::wstring extension = extensionOf(name);
        ASSERT_EQ(cutAtColon(name), stem + extension);
        ASSERT_TRUE(extension.empty() || extension[0] == L'.');
        ASSERT_EQ(std::wstring::npos, extension.find(L'.', 1));
        ASSERT_EQ(stemOf(name), stemOfPath(path));
    }
}

TEST(NameRulesProperties, LowerCasingMapsOnlyTheLettersAToZ)
{
    HostileText random(2);
    for (int round = 0; round < kRounds; ++round) {
        const std::wstring text = random.text(64);
        const std::wstring lower = lowerAsciiOnly(text);
        ASSERT_EQ(text.size(), lower.size());
        for (size_t i = 0; i < text.size(); ++i) {
            const wchar_t c = text[i];
            ASSERT_EQ((c >= L'A' && c <= L'Z') ? wchar_t(c + 32) : c, lower[i]);
        }
        ASSERT_EQ(lower, lowerAsciiOnly(lower));
    }
}

TEST(NameRulesProperties, ParentAndNameJoinBackToThePath)
{
    HostileText random(3);
    for (int round = 0; round < kRounds; ++round) {
        const std::wstring path = random.text(40);
        const std::wstring parent = parentOf(path);
        const std::wstring name = fileNameOf(path);
        ASSERT_LE(parent.size() + name.size(), path.size());
        ASSERT_EQ(0, path.compare(0, parent.size(), parent)) << "the parent is a prefix of the path";
        if (name.empty() || path.size() == name.size()) {
            continue;
        }
        // Separators dropped between parent and name are only separators.
        for (size_t i = parent.size(); i < path.size() - name.size(); ++i) {
            ASSERT_TRUE(path[i] == L'\\' || path[i] == L'/');
        }
    }
}

TEST(NameRulesProperties, FreeNameSearchTakesTheFirstFreeKeyAndNeverATakenOne)
{
    HostileText random(4);
    for (int round = 0; round < kRounds / 4; ++round) {
        // The parent in one of three shapes, so the separator the joined path must have is
        // known from how it was made: none after an empty parent or one ending in a
        // separator, one backslash after any other.
        const unsigned shape = random.number(3);
        const std::wstring parent = shape == 0 ? L"" : random.text(8) + (shape == 2 ? L"x" : round % 2 ? L"\\" : L"/");
        const std::wstring separator = shape == 2 ? L"\\" : L"";
        const std::wstring name = random.legalFileName(12);
        const std::wstring stem = stemOf(name);
        const std::wstring extension = extensionOf(name);
        // The key of number n: the stem and the number, only A to Z lower-cased (a stem and
        // extension split from a legal name keep that split with the number in between).
        const auto keyOf = [&](int n) { return lowerAToZ(stem + std::to_wstring(n)); };

        // Take a random run of the numbered keys, sometimes all of them.
        std::unordered_set<std::wstring> taken;
        const int takenUpTo = static_cast<int>(random.number(kMaxNameNumber + 3));
        for (int n = 1; n <= takenUpTo && n <= kMaxNameNumber; ++n) {
            taken.insert(keyOf(n));
        }
        const auto before = taken;
        const std::wstring chosen = findFreeNumberedName(parent, stem, extension, taken);
        if (takenUpTo >= kMaxNameNumber) {
            ASSERT_EQ(L"", chosen) << "every number is taken";
            ASSERT_EQ(before, taken) << "an exhausted search changes nothing";
            continue;
        }
        ASSERT_EQ(parent + separator + stem + std::to_wstring(takenUpTo + 1) + extension, chosen)
            << "the first free number, joined to the parent";
        auto expected = before;
        expected.insert(keyOf(takenUpTo + 1));
        ASSERT_EQ(expected, taken) << "exactly the chosen name's key is added";
    }
}

TEST(NameRulesProperties, KeysOfAChosenNameMatchWhatAListingOfItWouldGive)
{
    // The key the search stores is the lower-cased stem of the new path as the rules read
    // it, so the next listing finds the renamed file under the same key.
    std::unordered_set<std::wstring> taken{L"program"};
    const std::wstring first = findFreeNumberedName(L"C:\\", L"Program", L".EXE", taken);
    ASSERT_EQ(L"C:\\Program1.EXE", first);
    EXPECT_EQ(1u, taken.count(L"program1"));
    const std::wstring second = findFreeNumberedName(L"C:\\", L"PROGRAM", L"", taken);
    EXPECT_EQ(L"C:\\PROGRAM2", second) << "Program1.EXE took 1 whatever the extension";
    const std::wstring hostile = findFreeNumberedName(L"C:\\", L"Program", L".\x4E2D\xD800%", taken);
    EXPECT_EQ(std::wstring(L"C:\\Program3.\x4E2D\xD800%"), hostile);
}

TEST(NameRulesProperties, TheQuickNameTestPassesEveryNameWhoseStemHoldsACandidate)
{
    // A listing skips the names this quick test fails: it must never fail one that the
    // stem rules would take, with or without a stream, whatever the case of A to Z.
    HostileText random(5);
    int held = 0;
    for (int round = 0; round < kRounds; ++round) {
        const std::wstring name = random.text(12);
        // Stems taken from the name itself (lower-cased), so that some rounds must pass.
        const std::wstring lowered = lowerAsciiOnly(stemOf(name));
        const size_t from = random.number(lowered.size() + 1);
        const std::vector<std::wstring> stems{lowerAsciiOnly(random.text(3)),
                                              lowered.substr(from, random.number(4))};
        const std::wstring path = L"C:\\" + name;
        if (stemContainsAny(path, stems)) {
            ++held;
            ASSERT_TRUE(nameMayContainAny(fileNameOf(path).c_str(), stems));
        }
    }
    EXPECT_GT(held, kRounds / 2);
    EXPECT_FALSE(nameMayContainAny(L"brimlock-bench-12", {L"program", L"quarrow"}));
    EXPECT_TRUE(nameMayContainAny(L"x.PROGRAM", {L"program"})) << "quick: the extension counts too";
}
