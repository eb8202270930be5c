#pragma once
// UTF-16 text of the registry as UTF-8 for JSON, CSV and pipes, and back. The registry
// holds any sequence of 16-bit units: a surrogate without its partner becomes U+FFFD, so
// that the output stays valid UTF-8 whatever a value holds. Pure conversion; no state.

#include <string>

namespace brimlockscan {

std::string toUtf8(const std::wstring& text);

// No lone surrogate: toUtf8 and fromUtf8 give the text back exactly.
bool isWellFormed(const std::wstring& text);

// False (and `text` empty) for bytes that are not valid UTF-8.
bool fromUtf8(const std::string& bytes, std::wstring& text);

} // namespace brimlockscan
