#pragma once
// Forwards every facade operation to the operating-system function of the same name.

#include "_win32/IWin32Api.h"

namespace Corvane { namespace Orlin {

class CWin32Api : public IWin32Api {
public:
    BOOL WINAPI StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* serviceStartTable) override;
    BOOL WINAPI StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* serviceStartTable) override;
    SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerExW(LPCWSTR serviceName, LPHANDLER_FUNCTION_EX handlerProc, LPVOID context) override;
    SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerExA(LPCSTR serviceName, LPHANDLER_FUNCTION_EX handlerProc, LPVOID context) override;
    BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE statusHandle, LPSERVICE_STATUS serviceStatus) override;
    HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name) override;
    HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCSTR name) override;
    BOOL WINAPI SetEvent(HANDLE event) override;
    BOOL WINAPI CloseHandle(HANDLE object) override;
    DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) override;
    BOOL WINAPI CopyFileW(LPCWSTR existingFileName, LPCWSTR newFileName, BOOL failIfExists) override;
    BOOL WINAPI CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists) override;
    BOOL WINAPI MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags) override;
    BOOL WINAPI MoveFileExW(LPCWSTR existingFileName, LPCWSTR newFileName, DWORD flags) override;
    DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) override;
    DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) override;
    PVOID WINAPI SecureZeroMemory(PVOID destination, SIZE_T length) override;
    void WINAPI CoTaskMemFree(LPVOID memory) override;
    HRESULT WINAPI SHGetKnownFolderPath(REFKNOWNFOLDERID folderId, DWORD flags, HANDLE token, PWSTR* path) override;
    NTSTATUS WINAPI BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algId, LPCWSTR implementation, ULONG flags) override;
    NTSTATUS WINAPI BCryptGetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR output, ULONG outputLength, ULONG* result, ULONG flags) override;
    NTSTATUS WINAPI BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, PUCHAR hashObject, ULONG hashObjectLength, PUCHAR secret, ULONG secretLength, ULONG flags) override;
    NTSTATUS WINAPI BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG inputLength, ULONG flags) override;
    NTSTATUS WINAPI BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG outputLength, ULONG flags) override;
    NTSTATUS WINAPI BCryptDestroyHash(BCRYPT_HASH_HANDLE hash) override;
    NTSTATUS WINAPI BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags) override;
    NTSTATUS WINAPI BCryptImportKeyPair(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE importKey, LPCWSTR blobType, BCRYPT_KEY_HANDLE* key, PUCHAR input, ULONG inputLength, ULONG flags) override;
    NTSTATUS WINAPI BCryptVerifySignature(BCRYPT_KEY_HANDLE key, VOID* paddingInfo, PUCHAR hash, ULONG hashLength, PUCHAR signature, ULONG signatureLength, ULONG flags) override;
    NTSTATUS WINAPI BCryptDestroyKey(BCRYPT_KEY_HANDLE key) override;
    NTSTATUS WINAPI BCryptGenerateKeyPair(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE* key, ULONG length, ULONG flags) override;
    NTSTATUS WINAPI BCryptFinalizeKeyPair(BCRYPT_KEY_HANDLE key, ULONG flags) override;
    NTSTATUS WINAPI BCryptExportKey(BCRYPT_KEY_HANDLE key, BCRYPT_KEY_HANDLE exportKey, LPCWSTR blobType, PUCHAR output, ULONG outputLength, ULONG* result, ULONG flags) override;
    NTSTATUS WINAPI BCryptSetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR input, ULONG inputLength, ULONG flags) override;
    NTSTATUS WINAPI BCryptGenerateSymmetricKey(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE* key, PUCHAR keyObject, ULONG keyObjectLength, PUCHAR secret, ULONG secretLength, ULONG flags) override;
    NTSTATUS WINAPI BCryptDecrypt(BCRYPT_KEY_HANDLE key, PUCHAR input, ULONG inputLength, VOID* paddingInfo, PUCHAR iv, ULONG ivLength, PUCHAR output, ULONG outputLength, ULONG* result, ULONG flags) override;
    NTSTATUS WINAPI BCryptEncrypt(BCRYPT_KEY_HANDLE key, PUCHAR input, ULONG inputLength, VOID* paddingInfo, PUCHAR iv, ULONG ivLength, PUCHAR output, ULONG outputLength, ULONG* result, ULONG flags) override;
    NTSTATUS WINAPI BCryptSignHash(BCRYPT_KEY_HANDLE key, VOID* paddingInfo, PUCHAR input, ULONG inputLength, PUCHAR output, ULONG outputLength, ULONG* result, ULONG flags) override;
    BOOL WINAPI CryptStringToBinaryA(LPCSTR string, DWORD stringLength, DWORD flags, BYTE* binary, DWORD* binaryLength, DWORD* skip, DWORD* usedFlags) override;
    BOOL WINAPI CryptStringToBinaryW(LPCWSTR string, DWORD stringLength, DWORD flags, BYTE* binary, DWORD* binaryLength, DWORD* skip, DWORD* usedFlags) override;
    BOOL WINAPI CryptBinaryToStringA(const BYTE* binary, DWORD binaryLength, DWORD flags, LPSTR string, DWORD* stringLength) override;
    BOOL WINAPI CryptBinaryToStringW(const BYTE* binary, DWORD binaryLength, DWORD flags, LPWSTR string, DWORD* stringLength) override;
};

}} // namespace Corvane::Orlin
