#pragma once
// Turns a service-main call's arguments into the name the service is registered under.

#include <windows.h>

#include <string>

namespace Corvane { namespace Orlin {

class IServiceNameGenerator {
public:
    virtual std::wstring GenerateName(DWORD argc, LPWSTR* argv) = 0;

protected:
    ~IServiceNameGenerator() = default;
};

}} // namespace Corvane::Orlin
