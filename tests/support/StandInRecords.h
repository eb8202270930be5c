#pragma once
// The files the stand-in dialog (tests/launch/StandInDialog.cpp) writes into its own
// folder: started-<pid>.txt holds its command line, ended-<pid>.txt how it ended. Each is
// written whole before it appears under that name.

#include <string>
#include <vector>

namespace brimlock_test {

// The text of every `<prefix>*.txt` in `folder`, in the order the folder lists them. With
// `remove`, each file is deleted once read, so that a later call sees only newer ones.
std::vector<std::wstring> readStandInRecords(const std::wstring& folder, const std::wstring& prefix,
                                             bool remove = false);

} // namespace brimlock_test
