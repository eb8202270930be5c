#pragma once
// SHA-256 through the system's CNG provider (bcrypt.dll), for the undo file's checksum.

#include <string>

namespace brimlockscan {

// Lower-case hex digest of `bytes`; "" when the system cannot hash (no handle is left open).
std::string sha256(const std::string& bytes);

} // namespace brimlockscan
