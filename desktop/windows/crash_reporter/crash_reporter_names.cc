#include "desktop/windows/crash_reporter/crash_reporter_names.h"

#include "base/strings/string_number_conversions.h"

namespace installer {

namespace {

constexpr wchar_t kInitEventPrefix[] = L"TarvoCrashReporterInitEvent";
constexpr wchar_t kPipePrefix[] = L"\\\\.\\pipe\\TarvoCrashReporter";
constexpr wchar_t kExceptionEventPrefix[] = L"TarvoCrashReporterException";
// With the terminating NUL.
constexpr size_t kMaxNameUnits = 38;

std::wstring NameWithId(const wchar_t* prefix, uint32_t id) {
  std::wstring name = prefix + base::UintToString16(id);
  if (name.size() >= kMaxNameUnits)
    return std::wstring();
  return name;
}

}  // namespace

std::wstring GetCrashReporterInitEventName(uint32_t installer_pid) {
  return NameWithId(kInitEventPrefix, installer_pid);
}

std::wstring GetCrashReporterPipeName(uint32_t reporter_pid) {
  return NameWithId(kPipePrefix, reporter_pid);
}

std::wstring GetCrashReporterExceptionEventName(uint32_t event_id) {
  return NameWithId(kExceptionEventPrefix, event_id);
}

}  // namespace installer
