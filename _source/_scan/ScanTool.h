#pragma once
// brimlockscan's run, from its arguments to its exit code, without the process around it
// (brimlockscan.cpp), so that tests can run it in their own process with the ports set.
//
//   brimlockscan            the findings as text        exit 0 nothing found, 1 found
//   brimlockscan /json      one JSON document           (same)
//   brimlockscan /csv       one row per tried path      (same)
//   brimlockscan /whatif    what /fix would change      (same)
//   brimlockscan /fix [/undofile FILE]  quotes what can be quoted safely: exit 0 nothing
//                           left unquoted, 1 some left (each named with its reason)
//   brimlockscan /undo FILE puts back what /fix changed: exit 0 all, 1 some left
//   exit 2: bad arguments, the scan failed, the undo file could not be written or used,
//   or the output could not be written (a closed pipe: then nothing more is said).
// Switches are read without regard to case, with "/" or "-". Nothing asks for input.
// /fix's undo file goes, without /undofile, to the folder "undo" beside the program.
// Messages are the loaded message strings (loadMessageStrings first).

#include "_scan/ToolOutput.h"

#include <string>
#include <vector>

namespace brimlockscan {

constexpr int kExitNothingFound = 0;
constexpr int kExitFound = 1;
constexpr int kExitFailed = 2;

int runScanTool(const std::vector<std::wstring>& arguments, ToolOutput& out, ToolOutput& err);

} // namespace brimlockscan
