#include "ProgramFilesOverride.h"

#include "TestPaths.h"
#include "TestProcess.h"
#include "Wait.h"

namespace brimlock_test {

namespace {

// Wine reports neither a reliable exit code nor the end of a host program (the process
// handle may be signalled before the program has run), so callers wait for the effect.
bool runHost(const std::wstring& commandLine)
{
    return runProcess(commandLine, 30000).started;
}

bool driveDShowsFolder()
{
    const DWORD attributes = GetFileAttributesW(L"D:\\Program Files (x86)");
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

ProgramFilesOverride::~ProgramFilesOverride()
{
    if (_mapped) {
        runHost(L"/bin/rm -f " + driveLinkHostPath());
        waitUntil([] { return GetFileAttributesW(L"D:\\") == INVALID_FILE_ATTRIBUTES; }, std::chrono::seconds(10));
        removeTree(windowsPathOf(driveFolderHostPath()));
    }
}

std::wstring ProgramFilesOverride::driveLinkHostPath() const
{
    return environmentVariable(L"BRIMLOCK_WINE_ROOT") + L"/" + environmentVariable(L"BRIMLOCK_WINEARCH") +
           L"/dosdevices/d:";
}

std::wstring ProgramFilesOverride::driveFolderHostPath() const
{
    return environmentVariable(L"BRIMLOCK_WINE_ROOT") + L"/drive-d-" + environmentVariable(L"BRIMLOCK_WINEARCH");
}

bool ProgramFilesOverride::mapDriveD()
{
    if (environmentVariable(L"BRIMLOCK_WINE_ROOT").empty()) {
        return false;
    }
    const std::wstring folder = windowsPathOf(driveFolderHostPath());
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"\\Program Files (x86)").c_str(), nullptr);
    _mapped = true;
    return runHost(L"/bin/ln -sfn " + driveFolderHostPath() + L" " + driveLinkHostPath()) &&
           waitUntil(&driveDShowsFolder, std::chrono::seconds(10));
}

LSTATUS ProgramFilesOverride::setProgramFilesX86(const std::wstring& path)
{
    return _programFilesX86.setString(path);
}

} // namespace brimlock_test
