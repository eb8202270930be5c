#pragma once
// Moves the prefix's 32-bit program folder for a test, and puts everything back when the
// object goes. Wine 8.0 answers SHGetKnownFolderPath(FOLDERID_ProgramFilesX86) from the
// value "ProgramFilesDir (x86)" of HKLM\Software\Microsoft\Windows\CurrentVersion in the
// caller's registry view (WOW6432Node for a 32-bit program on 64-bit Windows; the value is
// absent on 32-bit Windows, where Wine falls back to "C:\Program Files"), and fails with
// 0x80070003 when that folder does not exist.
//
// A drive D can be mapped for the test: the prefix's dosdevices\d: link is made to point
// at a folder under the build's Wine root (with /bin/ln, which Wine starts as a host
// program). Tests that use this share the prefix's program folder: RESOURCE_LOCK progfiles.

#include "Registry.h"

#include <windows.h>

#include <string>

namespace brimlock_test {

class ProgramFilesOverride {
public:
    ProgramFilesOverride() = default;
    ~ProgramFilesOverride();
    ProgramFilesOverride(const ProgramFilesOverride&) = delete;
    ProgramFilesOverride& operator=(const ProgramFilesOverride&) = delete;

    // Maps D: to a fresh folder holding "Program Files (x86)". False when D: does not show
    // the folder afterwards.
    bool mapDriveD();
    // Writes "ProgramFilesDir (x86)" in the 32-bit view; returns the registry's result.
    LSTATUS setProgramFilesX86(const std::wstring& path);

    // Where the D: link and its folder are, seen from the host.
    std::wstring driveLinkHostPath() const;
    std::wstring driveFolderHostPath() const;

private:
    MachineValueOverride _programFilesX86{L"Software\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesDir (x86)",
                                          KEY_WOW64_32KEY};
    bool _mapped = false;
};

} // namespace brimlock_test
