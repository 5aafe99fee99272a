#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_TRUST_VERDICT_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_TRUST_VERDICT_H_

#include <windows.h>

#include <cstdint>
#include <span>

namespace installer {

// What WinVerifyTrust says of the Authenticode signature of the file held
// open on `file` (ERROR_SUCCESS when Windows trusts it). Windows reads the
// handle, so the bytes judged are the held ones; `path` only names the
// file. No revocation check and no user interface: the installer may run
// with no network and no one to answer. `signature` is the file's, already
// walked: when a chain WinVerifyTrust would build from it lacks an issuer
// at hand (OfflineChain), it is not asked, and the verdict is
// CERT_E_CHAINING.
LONG GetTrustVerdict(HANDLE file,
                     const wchar_t* path,
                     std::span<const uint8_t> signature);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_TRUST_VERDICT_H_
