// What the built programs carry: a PE32 GUI image for x86, the asInvoker manifest, and
// no DLL of the compiler's runtime beside it.
#include "TestPaths.h"

#include "_win32/UniqueHandle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ModuleData {
    HMODULE module = nullptr;
    ~ModuleData()
    {
        if (module) {
            FreeLibrary(module);
        }
    }
};

std::vector<std::wstring> programs()
{
    std::vector<std::wstring> result{L"frame_test_service.exe"};
    for (const wchar_t* name : {L"brimlock.exe", L"brimlockdlg.exe"}) {
        if (GetFileAttributesW(brimlock_test::builtProgram(name).c_str()) != INVALID_FILE_ATTRIBUTES) {
            result.push_back(name);
        }
    }
    return result;
}

} // namespace

TEST(ProgramImage, GuiX86ImagesWithAsInvokerManifestAndNoRuntimeDlls)
{
    for (const auto& name : programs()) {
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        const std::wstring path = brimlock_test::builtProgram(name);
        ModuleData image;
        image.module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, image.module) << "error " << GetLastError();
        const BYTE* base = reinterpret_cast<const BYTE*>(reinterpret_cast<ULONG_PTR>(image.module) & ~ULONG_PTR(3));
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        ASSERT_EQ(IMAGE_DOS_SIGNATURE, dos->e_magic);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
        EXPECT_EQ(IMAGE_FILE_MACHINE_I386, nt->FileHeader.Machine);
        EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR32_MAGIC, nt->OptionalHeader.Magic);
        EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, nt->OptionalHeader.Subsystem);

        HRSRC found = FindResourceW(image.module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
        ASSERT_NE(nullptr, found) << "no manifest";
        const char* text = static_cast<const char*>(LockResource(LoadResource(image.module, found)));
        const std::string manifest(text, SizeofResource(image.module, found));
        EXPECT_NE(std::string::npos, manifest.find("level=\"asInvoker\""));
        EXPECT_NE(std::string::npos, manifest.find("uiAccess=\"false\""));
    }
}

TEST(ProgramImage, ImportsNoCompilerRuntimeDll)
{
    for (const auto& name : programs()) {
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        // Mapped as an image (not run), so the import table can be walked by RVA.
        HMODULE module = LoadLibraryExW(brimlock_test::builtProgram(name).c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
        ASSERT_NE(nullptr, module) << "error " << GetLastError();
        const BYTE* base = reinterpret_cast<const BYTE*>(module);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        ASSERT_NE(0u, dir.VirtualAddress);
        std::vector<std::string> dlls;
        for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); entry->Name;
             ++entry) {
            std::string dll = reinterpret_cast<const char*>(base + entry->Name);
            for (auto& c : dll) {
                c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
            }
            dlls.push_back(dll);
        }
        FreeLibrary(module);
        EXPECT_FALSE(dlls.empty());
        for (const auto& dll : dlls) {
            EXPECT_EQ(std::string::npos, dll.find("libwinpthread")) << dll;
            EXPECT_EQ(std::string::npos, dll.find("libstdc++")) << dll;
            EXPECT_EQ(std::string::npos, dll.find("libgcc")) << dll;
        }
    }
}
