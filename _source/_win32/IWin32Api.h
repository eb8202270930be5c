#pragma once
// Facade over a fixed set of operating-system calls, so that code which makes its
// system calls through an IWin32Api pointer can run against a substitute object.
//
// Each operation forwards to the function of the same name with the same parameters
// and returns its result and last-error value unchanged; SecureZeroMemory alone does
// its own work. Slot order is part of the contract (note MoveFileExA before MoveFileExW).

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>
#include <shlobj.h>

// windows.h maps SecureZeroMemory to RtlSecureZeroMemory with an object-like macro,
// which would rename the facade's member of that name. The facade owns the name here.
#ifdef SecureZeroMemory
#undef SecureZeroMemory
#endif

namespace Corvane { namespace Orlin {

class IWin32Api {
public:
    virtual BOOL WINAPI StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* serviceStartTable) = 0;
    virtual BOOL WINAPI StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* serviceStartTable) = 0;
    virtual SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerExW(
        LPCWSTR serviceName, LPHANDLER_FUNCTION_EX handlerProc, LPVOID context) = 0;
    virtual SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerExA(
        LPCSTR serviceName, LPHANDLER_FUNCTION_EX handlerProc, LPVOID context) = 0;
    virtual BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE statusHandle, LPSERVICE_STATUS serviceStatus) = 0;
    virtual HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset,
                                       BOOL initialState, LPCWSTR name) = 0;
    virtual HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset,
                                       BOOL initialState, LPCSTR name) = 0;
    virtual BOOL WINAPI SetEvent(HANDLE event) = 0;
    virtual BOOL WINAPI CloseHandle(HANDLE object) = 0;
    virtual DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) = 0;
    virtual BOOL WINAPI CopyFileW(LPCWSTR existingFileName, LPCWSTR newFileName, BOOL failIfExists) = 0;
    virtual BOOL WINAPI CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists) = 0;
    virtual BOOL WINAPI MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags) = 0;
    virtual BOOL WINAPI MoveFileExW(LPCWSTR existingFileName, LPCWSTR newFileName, DWORD flags) = 0;
    virtual DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) = 0;
    virtual DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) = 0;
    // Writes a zero to each of the `length` bytes at `destination` through volatile
    // access, so the writes are never optimised away; returns `destination`.
    virtual PVOID WINAPI SecureZeroMemory(PVOID destination, SIZE_T length) = 0;
    virtual void WINAPI CoTaskMemFree(LPVOID memory) = 0;
    virtual HRESULT WINAPI SHGetKnownFolderPath(REFKNOWNFOLDERID folderId, DWORD flags, HANDLE token,
                                                PWSTR* path) = 0;
    virtual NTSTATUS WINAPI BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algId,
                                                        LPCWSTR implementation, ULONG flags) = 0;
    virtual NTSTATUS WINAPI BCryptGetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR output,
                                              ULONG outputLength, ULONG* result, ULONG flags) = 0;
    virtual NTSTATUS WINAPI BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash,
                                             PUCHAR hashObject, ULONG hashObjectLength, PUCHAR secret,
                                             ULONG secretLength, ULONG flags) = 0;
    virtual NTSTATUS WINAPI BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG inputLength,
                                           ULONG flags) = 0;
    virtual NTSTATUS WINAPI BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG outputLength,
                                             ULONG flags) = 0;
    virtual NTSTATUS WINAPI BCryptDestroyHash(BCRYPT_HASH_HANDLE hash) = 0;
    virtual NTSTATUS WINAPI BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags) = 0;
    virtual NTSTATUS WINAPI BCryptImportKeyPair(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE importKey,
                                                LPCWSTR blobType, BCRYPT_KEY_HANDLE* key, PUCHAR input,
                                                ULONG inputLength, ULONG flags) = 0;
    virtual NTSTATUS WINAPI BCryptVerifySignature(BCRYPT_KEY_HANDLE key, VOID* paddingInfo, PUCHAR hash,
                                                  ULONG hashLength, PUCHAR signature, ULONG signatureLength,
                                                  ULONG flags) = 0;
    virtual NTSTATUS WINAPI BCryptDestroyKey(BCRYPT_KEY_HANDLE key) = 0;
    virtual NTSTATUS WINAPI BCryptGenerateKeyPair(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE* key,
                                                  ULONG length, ULONG flags) = 0;
    virtual NTSTATUS WINAPI BCryptFinalizeKeyPair(BCRYPT_KEY_HANDLE key, ULONG flags) = 0;
    virtual NTSTATUS WINAPI BCryptExportKey(BCRYPT_KEY_HANDLE key, BCRYPT_KEY_HANDLE exportKey,
                                            LPCWSTR blobType, PUCHAR output, ULONG outputLength,
                                            ULONG* result, ULONG flags) = 0;
    virtual NTSTATUS WINAPI BCryptSetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR input,
                                              ULONG inputLength, ULONG flags) = 0;
    virtual NTSTATUS WINAPI BCryptGenerateSymmetricKey(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE* key,
                                                       PUCHAR keyObject, ULONG keyObjectLength,
                                                       PUCHAR secret, ULONG secretLength, ULONG flags) = 0;
    virtual NTSTATUS WINAPI BCryptDecrypt(BCRYPT_KEY_HANDLE key, PUCHAR input, ULONG inputLength,
                                          VOID* paddingInfo, PUCHAR iv, ULONG ivLength, PUCHAR output,
                                          ULONG outputLength, ULONG* result, ULONG flags) = 0;
    virtual NTSTATUS WINAPI BCryptEncrypt(BCRYPT_KEY_HANDLE key, PUCHAR input, ULONG inputLength,
                                          VOID* paddingInfo, PUCHAR iv, ULONG ivLength, PUCHAR output,
                                          ULONG outputLength, ULONG* result, ULONG flags) = 0;
    virtual NTSTATUS WINAPI BCryptSignHash(BCRYPT_KEY_HANDLE key, VOID* paddingInfo, PUCHAR input,
                                           ULONG inputLength, PUCHAR output, ULONG outputLength,
                                           ULONG* result, ULONG flags) = 0;
    virtual BOOL WINAPI CryptStringToBinaryA(LPCSTR string, DWORD stringLength, DWORD flags, BYTE* binary,
                                             DWORD* binaryLength, DWORD* skip, DWORD* usedFlags) = 0;
    virtual BOOL WINAPI CryptStringToBinaryW(LPCWSTR string, DWORD stringLength, DWORD flags, BYTE* binary,
                                             DWORD* binaryLength, DWORD* skip, DWORD* usedFlags) = 0;
    virtual BOOL WINAPI CryptBinaryToStringA(const BYTE* binary, DWORD binaryLength, DWORD flags,
                                             LPSTR string, DWORD* stringLength) = 0;
    virtual BOOL WINAPI CryptBinaryToStringW(const BYTE* binary, DWORD binaryLength, DWORD flags,
                                             LPWSTR string, DWORD* stringLength) = 0;
};

}} // namespace Corvane::Orlin
