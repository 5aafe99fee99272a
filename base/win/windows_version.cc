#include "base/win/windows_version.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <iterator>
#include <memory>

#include "base/strings/string_slice.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"

namespace base::win {

namespace {

// Product types of `GetProductInfo` by edition; all others are home editions.
constexpr DWORD kProfessionalProducts[] = {1, 4, 6, 48};
constexpr DWORD kServerProducts[] = {7, 8, 9, 10, 12, 13, 14, 15, 17, 18, 25};

constexpr WORD kSuitePersonal = 0x200;
constexpr WORD kSuiteHomeServer = 0x8000;

// The build of Windows 10's November 2015 update.
constexpr int32_t kWin10Th2Build = 10586;

using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
using GetProductInfoFunction = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD,
                                             PDWORD);

// Looked up by name: older systems lack these exports.
template <class Function>
Function Kernel32Function(const char* name) {
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (!kernel32)
    return nullptr;
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, name)));
}

WindowsVersionInfo::Wow64Status ReadWow64Status() {
  auto is_wow64_process =
      Kernel32Function<IsWow64ProcessFunction>("IsWow64Process");
  if (!is_wow64_process)
    return WindowsVersionInfo::kWow64Disabled;
  BOOL wow64 = FALSE;
  if (!is_wow64_process(GetCurrentProcess(), &wow64))
    return WindowsVersionInfo::kWow64Unknown;
  return wow64 ? WindowsVersionInfo::kWow64Enabled
               : WindowsVersionInfo::kWow64Disabled;
}

template <size_t N>
bool Contains(const DWORD (&table)[N], DWORD value) {
  return std::find(std::begin(table), std::end(table), value) !=
         std::end(table);
}

std::atomic<const WindowsVersionInfo*> g_version_info{nullptr};

}  // namespace

WindowsVersionInfo::WindowsVersionInfo() {
  wow64_status_ = ReadWow64Status();

  OSVERSIONINFOEXW record = {};
  record.dwOSVersionInfoSize = sizeof(record);
  GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&record));
  version_number_ = {static_cast<int32_t>(record.dwMajorVersion),
                     static_cast<int32_t>(record.dwMinorVersion),
                     static_cast<int32_t>(record.dwBuildNumber)};
  update_build_revision_ = static_cast<int32_t>(GetUpdateBuildRevision());
  version_ = VersionFor(version_number_.major, version_number_.minor,
                        version_number_.build);
  service_pack_ = {record.wServicePackMajor, record.wServicePackMinor};
  service_pack_text_ = WidePieceToUtf8(WideStringSlice(
      record.szCSDVersion,
      wcsnlen(record.szCSDVersion, std::size(record.szCSDVersion))));

  SYSTEM_INFO system = {};
  GetNativeSystemInfo(&system);
  architecture_ = ArchitectureFor(system.wProcessorArchitecture);
  processor_count_ = static_cast<int32_t>(system.dwNumberOfProcessors);
  allocation_granularity_ = system.dwAllocationGranularity;

  ReadEdition(record.wProductType, record.wSuiteMask);
}

void WindowsVersionInfo::ReadEdition(BYTE product_type, WORD suite_mask) {
  const int32_t major = version_number_.major;
  if (major == 6 || major == 10) {
    DWORD product = 0;  // PRODUCT_UNDEFINED, a home edition.
    if (auto get_product_info =
            Kernel32Function<GetProductInfoFunction>("GetProductInfo")) {
      get_product_info(version_number_.major, version_number_.minor, 0, 0,
                       &product);
    }
    edition_ = EditionForProductType(product);
  } else if (major == 5) {
    edition_ = EditionForLegacySystem(version_number_.minor, product_type,
                                      suite_mask, architecture_);
  } else {
    edition_ = kEditionHome;
  }
}

// static
WindowsVersion WindowsVersionInfo::VersionFor(int32_t major,
                                              int32_t minor,
                                              int32_t build) {
  if (major < 5)
    return kVersionPreXp;
  if (major == 5) {
    if (minor <= 0)
      return kVersionPreXp;
    return minor == 1 ? kVersionXp : kVersionServer2003;
  }
  if (major == 6) {
    if (minor <= 0)
      return kVersionVista;
    if (minor == 1)
      return kVersionWin7;
    return minor == 2 ? kVersionWin8 : kVersionWin8_1;
  }
  if (major == 10)
    return build < kWin10Th2Build ? kVersionWin10 : kVersionWin10Th2;
  return kVersionNewer;
}

// static
WindowsVersionInfo::Edition WindowsVersionInfo::EditionForProductType(
    DWORD product_type) {
  if (Contains(kProfessionalProducts, product_type))
    return kEditionProfessional;
  if (Contains(kServerProducts, product_type))
    return kEditionServer;
  return kEditionHome;
}

// static
WindowsVersionInfo::Edition WindowsVersionInfo::EditionForLegacySystem(
    int32_t minor,
    BYTE product_type,
    WORD suite_mask,
    Architecture architecture) {
  if (minor == 2) {
    // XP x64 shares its version number with Server 2003.
    if (product_type == VER_NT_WORKSTATION &&
        architecture == kArchitectureX64) {
      return kEditionProfessional;
    }
    return (suite_mask & kSuiteHomeServer) ? kEditionHome : kEditionServer;
  }
  if (minor == 1)
    return (suite_mask & kSuitePersonal) ? kEditionHome : kEditionProfessional;
  return kEditionHome;
}

// static
WindowsVersionInfo::Architecture WindowsVersionInfo::ArchitectureFor(
    WORD processor_architecture) {
  switch (processor_architecture) {
    case PROCESSOR_ARCHITECTURE_INTEL:
      return kArchitectureX86;
    case PROCESSOR_ARCHITECTURE_AMD64:
      return kArchitectureX64;
    case PROCESSOR_ARCHITECTURE_IA64:
      return kArchitectureIa64;
    default:
      return kArchitectureOther;
  }
}

const WindowsVersionInfo& GetWindowsVersionInfo() {
  if (const WindowsVersionInfo* info =
          g_version_info.load(std::memory_order_acquire)) {
    return *info;
  }
  // Threads that race here each build a record; the first to publish wins
  // and the others drop theirs.
  auto made = std::make_unique<const WindowsVersionInfo>();
  const WindowsVersionInfo* published = nullptr;
  if (g_version_info.compare_exchange_strong(published, made.get(),
                                             std::memory_order_acq_rel,
                                             std::memory_order_acquire)) {
    return *made.release();
  }
  return *published;
}

WindowsVersion GetWindowsVersion() {
  return GetWindowsVersionInfo().version();
}

DWORD GetUpdateBuildRevision() {
  RegistryKey key(HKEY_LOCAL_MACHINE,
                  L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                  KEY_QUERY_VALUE);
  DWORD revision = 0;
  if (key.ReadDword(L"UBR", &revision) != ERROR_SUCCESS)
    return 0;
  return revision;
}

}  // namespace base::win
