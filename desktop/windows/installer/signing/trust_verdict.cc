#include "desktop/windows/installer/signing/trust_verdict.h"

#include <softpub.h>
#include <wintrust.h>

#include <mutex>

#include "desktop/windows/installer/signing/offline_chain.h"

namespace installer {

namespace {

// WinVerifyTrust loads its image helper on first use, and under Wine on a
// busy machine that load, made by two first uses at once (the crash
// reporter's launch check beside the installer's own), has failed: the
// process aborted. Loaded once, from the system folder alone, before any
// caller asks, and kept for the process's life.
void LoadTrustHelpersOnce() {
  static std::once_flag loaded;
  std::call_once(loaded, [] {
    ::LoadLibraryExW(L"imagehlp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  });
}

}  // namespace

LONG GetTrustVerdict(HANDLE file,
                     const wchar_t* path,
                     std::span<const uint8_t> signature) {
  if (!OfflineChain::AreTrustChainsAtHand(signature)) {
    ::SetLastError(static_cast<DWORD>(CERT_E_CHAINING));
    return CERT_E_CHAINING;
  }
  LoadTrustHelpersOnce();
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
