#include "_win32/CWin32Api.h"

namespace Corvane { namespace Orlin {

BOOL WINAPI CWin32Api::StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* serviceStartTable)
{
    return ::StartServiceCtrlDispatcherW(serviceStartTable);
}

BOOL WINAPI CWin32Api::StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* serviceStartTable)
{
    return ::StartServiceCtrlDispatcherA(serviceStartTable);
}

SERVICE_STATUS_HANDLE WINAPI CWin32Api::RegisterServiceCtrlHandlerExW(LPCWSTR serviceName, LPHANDLER_FUNCTION_EX handlerProc, LPVOID context)
{
    return ::RegisterServiceCtrlHandlerExW(serviceName, handlerProc, context);
}

SERVICE_STATUS_HANDLE WINAPI CWin32Api::RegisterServiceCtrlHandlerExA(LPCSTR serviceName, LPHANDLER_FUNCTION_EX handlerProc, LPVOID context)
{
    return ::RegisterServiceCtrlHandlerExA(serviceName, handlerProc, context);
}

BOOL WINAPI CWin32Api::SetServiceStatus(SERVICE_STATUS_HANDLE statusHandle, LPSERVICE_STATUS serviceStatus)
{
    return ::SetServiceStatus(statusHandle, serviceStatus);
}

HANDLE WINAPI CWin32Api::CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name)
{
    return ::CreateEventW(attributes, manualReset, initialState, name);
}

HANDLE WINAPI CWin32Api::CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCSTR name)
{
    return ::CreateEventA(attributes, manualReset, initialState, name);
}

BOOL WINAPI CWin32Api::SetEvent(HANDLE event)
{
    return ::SetEvent(event);
}

BOOL WINAPI CWin32Api::CloseHandle(HANDLE object)
{
    return ::CloseHandle(object);
}

DWORD WINAPI CWin32Api::WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    return ::WaitForSingleObject(handle, milliseconds);
}

BOOL WINAPI CWin32Api::CopyFileW(LPCWSTR existingFileName, LPCWSTR newFileName, BOOL failIfExists)
{
    return ::CopyFileW(existingFileName, newFileName, failIfExists);
}

BOOL WINAPI CWin32Api::CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists)
{
    return ::CopyFileA(existingFileName, newFileName, failIfExists);
}

BOOL WINAPI CWin32Api::MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags)
{
    return ::MoveFileExA(existingFileName, newFileName, flags);
}

BOOL WINAPI CWin32Api::MoveFileExW(LPCWSTR existingFileName, LPCWSTR newFileName, DWORD flags)
{
    return ::MoveFileExW(existingFileName, newFileName, flags);
}

DWORD WINAPI CWin32Api::GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size)
{
    return ::GetModuleFileNameA(module, fileName, size);
}

DWORD WINAPI CWin32Api::GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size)
{
    return ::GetModuleFileNameW(module, fileName, size);
}

PVOID WINAPI CWin32Api::SecureZeroMemory(PVOID destination, SIZE_T length)
{
    volatile BYTE* bytes = static_cast<volatile BYTE*>(destination);
    for (SIZE_T i = 0; i < length; ++i) {
        bytes[i] = 0;
    }
    return destination;
}

void WINAPI CWin32Api::CoTaskMemFree(LPVOID memory)
{
    ::CoTaskMemFree(memory);
}

HRESULT WINAPI CWin32Api::SHGetKnownFolderPath(REFKNOWNFOLDERID folderId, DWORD flags, HANDLE token, PWSTR* path)
{
    return ::SHGetKnownFolderPath(folderId, flags, token, path);
}

NTSTATUS WINAPI CWin32Api::BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algId, LPCWSTR implementation, ULONG flags)
{
    return ::BCryptOpenAlgorithmProvider(algorithm, algId, implementation, flags);
}

NTSTATUS WINAPI CWin32Api::BCryptGetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR output, ULONG outputLength, ULONG* result, ULONG flags)
{
    return ::BCryptGetProperty(object, property, output, outputLength, result, flags);
}

NTSTATUS WINAPI CWin32Api::BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, PUCHAR hashObject, ULONG hashObjectLength, PUCHAR secret, ULONG secretLength, ULONG flags)
{
    return ::BCryptCreateHash(algorithm, hash, hashObject, hashObjectLength, secret, secretLength, flags);
}

NTSTATUS WINAPI CWin32Api::BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG inputLength, ULONG flags)
{
    return ::BCryptHashData(hash, input, inputLength, flags);
}

NTSTATUS WINAPI CWin32Api::BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG outputLength, ULONG flags)
{
    return ::BCryptFinishHash(hash, output, outputLength, flags);
}

NTSTATUS WINAPI CWin32Api::BCryptDestroyHash(BCRYPT_HASH_HANDLE hash)
{
    return ::BCryptDestroyHash(hash);
}

NTSTATUS WINAPI CWin32Api::BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags)
{
    return ::BCryptCloseAlgorithmProvider(algorithm, flags);
}

NTSTATUS WINAPI CWin32Api::BCryptImportKeyPair(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE importKey, LPCWSTR blobType, BCRYPT_KEY_HANDLE* key, PUCHAR input, ULONG inputLength, ULONG flags)
{
    return ::BCryptImportKeyPair(algorithm, importKey, blobType, key, input, inputLength, flags);
}

NTSTATUS WINAPI CWin32Api::BCryptVerifySignature(BCRYPT_KEY_HANDLE key, VOID* paddingInfo, PUCHAR hash, ULONG hashLength, PUCHAR signature, ULONG signatureLength, ULONG flags)
{
    return ::BCryptVerifySignature(key, paddingInfo, hash, hashLength, signature, signatureLength, flags);
}

NTSTATUS WINAPI CWin32Api::BCryptDestroyKey(BCRYPT_KEY_HANDLE key)
{
    return ::BCryptDestroyKey(key);
}

NTSTATUS WINAPI CWin32Api::BCryptGenerateKeyPair(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE* key, ULONG length, ULONG flags)
{
    return ::BCryptGenerateKeyPair(algorithm, key, length, flags);
}

NTSTATUS WINAPI CWin32Api::BCryptFinalizeKeyPair(BCRYPT_KEY_HANDLE key, ULONG flags)
{
    return ::BCryptFinalizeKeyPair(key, flags);
}

NTSTATUS WINAPI CWin32Api::BCryptExportKey(BCRYPT_KEY_HANDLE key, BCRYPT_KEY_HANDLE exportKey, LPCWSTR blobType, PUCHAR output, ULONG outputLength, ULONG* result, ULONG flags)
{
    return ::BCryptExportKey(key, exportKey, blobType, output, outputLength, result, flags);
}

NTSTATUS WINAPI CWin32Api::BCryptSetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR input, ULONG inputLength, ULONG flags)
{
    return ::BCryptSetProperty(object, property, input, inputLength, flags);
}

NTSTATUS WINAPI CWin32Api::BCryptGenerateSymmetricKey(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE* key, PUCHAR keyObject, ULONG keyObjectLength, PUCHAR secret, ULONG secretLength, ULONG flags)
{
    return ::BCryptGenerateSymmetricKey(algorithm, key, keyObject, keyObjectLength, secret, secretLength, flags);
}

NTSTATUS WINAPI CWin32Api::BCryptDecrypt(BCRYPT_KEY_HANDLE key, PUCHAR input, ULONG inputLength, VOID* paddingInfo, PUCHAR iv, ULONG ivLength, PUCHAR output, ULONG outputLength, ULONG* result, ULONG flags)
{
    return ::BCryptDecrypt(key, input, inputLength, paddingInfo, iv, ivLength, output, outputLength, result, flags);
}

NTSTATUS WINAPI CWin32Api::BCryptEncrypt(BCRYPT_KEY_HANDLE key, PUCHAR input, ULONG inputLength, VOID* paddingInfo, PUCHAR iv, ULONG ivLength, PUCHAR output, ULONG outputLength, ULONG* result, ULONG flags)
{
    return ::BCryptEncrypt(key, input, inputLength, paddingInfo, iv, ivLength, output, outputLength, result, flags);
}

NTSTATUS WINAPI CWin32Api::BCryptSignHash(BCRYPT_KEY_HANDLE key, VOID* paddingInfo, PUCHAR input, ULONG inputLength, PUCHAR output, ULONG outputLength, ULONG* result, ULONG flags)
{
    return ::BCryptSignHash(key, paddingInfo, input, inputLength, output, outputLength, result, flags);
}

BOOL WINAPI CWin32Api::CryptStringToBinaryA(LPCSTR string, DWORD stringLength, DWORD flags, BYTE* binary, DWORD* binaryLength, DWORD* skip, DWORD* usedFlags)
{
    return ::CryptStringToBinaryA(string, stringLength, flags, binary, binaryLength, skip, usedFlags);
}

BOOL WINAPI CWin32Api::CryptStringToBinaryW(LPCWSTR string, DWORD stringLength, DWORD flags, BYTE* binary, DWORD* binaryLength, DWORD* skip, DWORD* usedFlags)
{
    return ::CryptStringToBinaryW(string, stringLength, flags, binary, binaryLength, skip, usedFlags);
}

BOOL WINAPI CWin32Api::CryptBinaryToStringA(const BYTE* binary, DWORD binaryLength, DWORD flags, LPSTR string, DWORD* stringLength)
{
    return ::CryptBinaryToStringA(binary, binaryLength, flags, string, stringLength);
}

BOOL WINAPI CWin32Api::CryptBinaryToStringW(const BYTE* binary, DWORD binaryLength, DWORD flags, LPWSTR string, DWORD* stringLength)
{
    return ::CryptBinaryToStringW(binary, binaryLength, flags, string, stringLength);
}

}} // namespace Corvane::Orlin
