#pragma once
// The name the SCM started the service under: its first service-main argument.

#include "_service/IServiceNameGenerator.h"

namespace Corvane { namespace Orlin {

class CDefaultServiceNameGenerator final : public IServiceNameGenerator {
public:
    std::wstring GenerateName(DWORD argc, LPWSTR* argv) override
    {
        return (argc > 0 && argv && argv[0]) ? std::wstring(argv[0]) : std::wstring();
    }
};

}} // namespace Corvane::Orlin
