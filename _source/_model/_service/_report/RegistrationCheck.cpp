#include "_model/_service/_report/RegistrationCheck.h"

#include "_model/_service/Paths.h"
#include "_model/_service/_report/FolderAccess.h"
#include "_model/_service/_report/ReportScan.h"
#include "_win32/UniqueHandle.h"

#include <algorithm>
#include <initializer_list>

namespace tamselsvc { namespace model { namespace service {

RegistrationCheck::RegistrationCheck(const ReportScanPorts& ports) : _ports(ports)
{
    wchar_t folder[MAX_PATH];
    for (UINT (WINAPI* get)(LPWSTR, UINT) : {&::GetSystemDirectoryW, &::GetWindowsDirectoryW}) {
        const UINT length = get(folder, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            _searchFolders.emplace_back(folder, length);
        }
    }
}

ProgramSearch RegistrationCheck::search(const Registration& registration)
{
    return searchProgram(registration.commandLine, [this](const std::wstring& path) { return isFile(path); });
}

Finding RegistrationCheck::finding(const Registration& registration, ProgramSearch search)
{
    Finding finding;
    finding.registration = registration;
    for (const std::wstring& path : search.triedBefore) {
        finding.tried.push_back(factsOf(path, search));
    }
    for (const std::wstring& path : search.planted) {
        finding.planted.push_back(factsOf(path, search));
    }
    finding.value = quotedValue(registration, search);
    finding.command = quotingCommand(registration, search);
    finding.search = std::move(search);
    return finding;
}

bool RegistrationCheck::onLocalFixedDrive(const std::wstring& path)
{
    if (path.size() < 3 || path[1] != L':' || path[2] != L'\\') {
        return false;
    }
    const wchar_t letter = lowerAsciiOnly(path.substr(0, 1))[0];
    if (letter < L'a' || letter > L'z') {
        return false;
    }
    auto known = _driveTypes.find(letter);
    if (known == _driveTypes.end()) {
        const wchar_t root[] = {letter, L':', L'\\', L'\0'};
        known = _driveTypes.emplace(letter, _ports.getDriveType(root)).first;
    }
    return known->second == DRIVE_FIXED || known->second == DRIVE_RAMDISK;
}

bool RegistrationCheck::isFile(const std::wstring& path)
{
    if (path.size() > 1 && path[0] != L'\\' && path[1] != L':') {
        return std::any_of(_searchFolders.begin(), _searchFolders.end(),
                           [&](const std::wstring& folder) { return isFile(joinPath(folder, path)); });
    }
    if (!onLocalFixedDrive(path)) {
        return false;
    }
    const DWORD attributes = _ports.getFileAttributes(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

PathFacts RegistrationCheck::factsOf(const std::wstring& path, const ProgramSearch& search)
{
    PathFacts facts;
    if (!onLocalFixedDrive(path)) {
        return facts;
    }
    facts.isFile = std::find(search.planted.begin(), search.planted.end(), path) != search.planted.end();
    // Asked once per folder: "C:\" comes up for many registrations.
    const std::wstring folder = parentOf(path);
    const std::wstring folderKey = lowerAsciiOnly(folder);
    auto known = _folders.find(folderKey);
    if (known == _folders.end()) {
        Corvane::Orlin::UniqueLocalMem descriptor(_ports.readFolderSecurity(folder.c_str()));
        known = _folders.emplace(folderKey, decideFolderAccess(descriptor.get()) == FolderAccess::UsersCanCreateFiles)
                    .first;
    }
    facts.usersCanCreate = known->second;
    return facts;
}

}}} // namespace tamselsvc::model::service
