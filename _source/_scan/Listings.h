#pragma once
// The three forms of one scan's findings (ScanResult.h). Pure formatting: no system call
// but the loaded message strings.
//
// - textListing: for a person, in the user's language: each finding with its place, its
//   text (long texts cut), the paths tried before the program (marked when ordinary users
//   can create files in the folder), the program, the files already in front of it and
//   the command (or value) that quotes it; what could not be read; the counts.
// - jsonListing: one JSON document, UTF-8, shape "version" 1 (docs/administration.md):
//   every text whole, as stored.
// - csvListing: RFC 4180, UTF-8, a header row and one row per tried path. A field that
//   starts with = + - @ (or a tab or carriage return) gets a leading apostrophe, so that a
//   spreadsheet shows a planted text instead of running it as a formula.

#include "_scan/ScanResult.h"

#include <string>

namespace brimlockscan {

std::wstring textListing(const ScanResult& result);
std::string jsonListing(const ScanResult& result, const std::wstring& machine);
std::string csvListing(const ScanResult& result);

// The JSON shape's version: raised when a field changes meaning or goes away.
constexpr int kJsonVersion = 1;

} // namespace brimlockscan
