#include "_model/_service/CandidateTable.h"

namespace tamselsvc { namespace model { namespace service {

const CandidateTable nativeCandidateTable = {
    {L"C:\\", {L"C:\\Program"}},
    {L"C:\\Program Files\\Corvane\\",
     {L"C:\\Program Files\\Corvane\\Quarrow", L"C:\\Program Files\\Corvane\\Quarrow Link"}},
};

// On 64-bit Windows the install path runs through "C:\Program Files (x86)", whose prefix
// before the second space is "C:\Program Files".
const CandidateTable wow64CandidateTable = {
    {L"C:\\", {L"C:\\Program", L"C:\\Program Files"}},
    {L"C:\\Program Files (x86)\\Corvane\\",
     {L"C:\\Program Files (x86)\\Corvane\\Quarrow", L"C:\\Program Files (x86)\\Corvane\\Quarrow Link"}},
};

BOOL g_isWow64 = FALSE;
std::atomic<const CandidateTable*> g_activeCandidates{nullptr};

}}} // namespace tamselsvc::model::service
