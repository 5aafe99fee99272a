#include "desktop/windows/installer/signing/trust_verdict.h"

#include <softpub.h>
#include <wintrust.h>

#include "desktop/windows/installer/signing/offline_chain.h"

namespace installer {

LONG GetTrustVerdict(HANDLE file,
                     const wchar_t* path,
                     std::span<const uint8_t> signature) {
  if (!OfflineChain::AreTrustChainsAtHand(signature)) {
    ::SetLastError(static_cast<DWORD>(CERT_E_CHAINING));
    return CERT_E_CHAINING;
  }
  WINTRUST_FILE_INFO file_info = {};
  file_info.cbStruct = sizeof(file_info);
  file_info.pcwszFilePath = path;
  file_info.hFile = file;
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file_info;
  data.dwStateAction = WTD_STATEACTION_IGNORE;
  // Windows honours it; Wine fetches all the same, hence the check above.
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  return ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action,
                          &data);
}

}  // namespace installer
