#include "_scan/Sha256.h"

#include "_win32/UniqueHandle.h"

#include <windows.h>

#include <bcrypt.h>

namespace brimlockscan {

namespace {

// CNG's two handle kinds, each closed by its own call.
struct AlgorithmTraits {
    using pointer = BCRYPT_ALG_HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static bool isValid(pointer h) noexcept { return h != nullptr; }
    static void close(pointer h) noexcept { BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashTraits {
    using pointer = BCRYPT_HASH_HANDLE;
    static pointer invalid() noexcept { return nullptr; }
    static bool isValid(pointer h) noexcept { return h != nullptr; }
    static void close(pointer h) noexcept { BCryptDestroyHash(h); }
};

} // namespace

std::string sha256(const std::string& bytes)
{
    Corvane::Orlin::UniqueAny<AlgorithmTraits> algorithm;
    Corvane::Orlin::UniqueAny<HashTraits> hash;
    UCHAR digest[32];
    // BCryptHash would do it in one call, but only from Windows 10 on.
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !BCRYPT_SUCCESS(BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0)) ||
        !BCRYPT_SUCCESS(BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                                       static_cast<ULONG>(bytes.size()), 0)) ||
        !BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), digest, sizeof digest, 0))) {
        return std::string();
    }
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (UCHAR b : digest) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

} // namespace brimlockscan
