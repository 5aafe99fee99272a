#ifndef BASE_WIN_WINDOWS_VERSION_H_
#define BASE_WIN_WINDOWS_VERSION_H_

#include <windows.h>

#include <cstdint>
#include <string>

namespace base::win {

// Windows releases in order; features are gated by comparing against these.
enum WindowsVersion : int32_t {
  kVersionPreXp = 0,
  kVersionXp = 1,
  kVersionServer2003 = 2,  // Also XP x64.
  kVersionVista = 3,
  kVersionWin7 = 4,
  kVersionWin8 = 5,
  kVersionWin8_1 = 6,
  kVersionWin10 = 7,
  kVersionWin10Th2 = 8,  // Build 10586, the November 2015 update, and later.
  kVersionNewer = 9,
};

// What the running system is, read once per process.
class WindowsVersionInfo {
 public:
  enum Edition : int32_t {
    kEditionHome = 0,
    kEditionProfessional = 1,
    kEditionServer = 2,
  };
  enum Architecture : int32_t {
    kArchitectureX86 = 0,
    kArchitectureX64 = 1,
    kArchitectureIa64 = 2,
    kArchitectureOther = 3,
  };
  enum Wow64Status : int32_t {
    kWow64Disabled = 0,  // Also when the system has no WOW64 at all.
    kWow64Enabled = 1,   // A 32-bit process on a 64-bit system.
    kWow64Unknown = 2,
  };
  struct VersionNumber {
    int32_t major;
    int32_t minor;
    int32_t build;
  };
  struct ServicePack {
    int32_t major;
    int32_t minor;
  };

  // Reads the running system. Use `GetWindowsVersionInfo` for the shared
  // record.
  WindowsVersionInfo();

  WindowsVersionInfo(const WindowsVersionInfo&) = delete;
  WindowsVersionInfo& operator=(const WindowsVersionInfo&) = delete;

  WindowsVersion version() const { return version_; }
  VersionNumber version_number() const { return version_number_; }
  // The "UBR" of the build; 0 when unknown.
  int32_t update_build_revision() const { return update_build_revision_; }
  Edition edition() const { return edition_; }
  ServicePack service_pack() const { return service_pack_; }
  // UTF-8, for example "Service Pack 1"; empty without one.
  const std::string& service_pack_text() const { return service_pack_text_; }
  // Of the system, not of this process.
  Architecture architecture() const { return architecture_; }
  int32_t processor_count() const { return processor_count_; }
  uint32_t allocation_granularity() const { return allocation_granularity_; }
  Wow64Status wow64_status() const { return wow64_status_; }

  // The rules that turn the system's answers into the record.
  static WindowsVersion VersionFor(int32_t major, int32_t minor, int32_t build);
  // For major versions 6 and 10, from `GetProductInfo`'s product type.
  static Edition EditionForProductType(DWORD product_type);
  // For 5.x, from the version record's product type and suite mask.
  static Edition EditionForLegacySystem(int32_t minor,
                                        BYTE product_type,
                                        WORD suite_mask,
                                        Architecture architecture);
  static Architecture ArchitectureFor(WORD processor_architecture);

 private:
  void ReadEdition(BYTE product_type, WORD suite_mask);

  WindowsVersion version_ = kVersionPreXp;
  VersionNumber version_number_ = {0, 0, 0};
  int32_t update_build_revision_ = 0;
  Edition edition_ = kEditionHome;
  ServicePack service_pack_ = {0, 0};
  std::string service_pack_text_;
  Architecture architecture_ = kArchitectureOther;
  int32_t processor_count_ = 0;
  uint32_t allocation_granularity_ = 0;
  Wow64Status wow64_status_ = kWow64Disabled;
};

// The process-wide record, made by the first caller on any thread; it never
// changes and lives as long as the process.
const WindowsVersionInfo& GetWindowsVersionInfo();
WindowsVersion GetWindowsVersion();

// The "UBR" value of the system's version key; 0 when it is missing or not
// a 4-byte number.
DWORD GetUpdateBuildRevision();

}  // namespace base::win

#endif  // BASE_WIN_WINDOWS_VERSION_H_
