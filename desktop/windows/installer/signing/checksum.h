#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_CHECKSUM_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_CHECKSUM_H_

#include <cstddef>
#include <string>

namespace base {
class FilePath;
}

namespace installer {

// The SHA-256 of `length` bytes at `data` as 64 lower-case hexadecimal
// digits. `data` may be null when `length` is 0.
std::string ComputeChecksum(const void* data, size_t length);

// Whether the checksum of the file's bytes equals `expected` exactly: an
// upper-case text never matches. False, with an error logged, when the file
// cannot be read.
bool ChecksumMatches(const base::FilePath& path, const std::string& expected);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_CHECKSUM_H_
