#include "desktop/windows/installer/product/run_folder_name.h"

#include <windows.h>

#include <utility>

#include "base/strings/string_format.h"
#include "base/strings/string_number_conversions.h"

namespace installer {

namespace {

constexpr size_t kTimeDigits = 14;
// 4294967295: no longer pid is a 32-bit number.
constexpr size_t kMaxPidDigits = 10;
static_assert(RunFolderName::kLongestSuffix == 2 + kTimeDigits + kMaxPidDigits);
// A file name cannot be longer; a longer one is not ours.
constexpr size_t kMaxNameLength = MAX_PATH;

bool IsDigits(std::wstring_view text) {
  return !text.empty() &&
         text.find_first_not_of(L"0123456789") == std::wstring_view::npos;
}

}  // namespace

// static
std::wstring RunFolderName::Make(std::wstring_view prefix,
                                 base::Time time,
                                 uint32_t pid) {
  base::Time::Exploded utc;
  time.Explode(/*local=*/false, &utc);
  return std::wstring(prefix) +
         base::FormatWideString(L"_%04d%02d%02d%02d%02d%02d_%lu", utc.year,
                                utc.month, utc.day_of_month, utc.hour,
                                utc.minute, utc.second,
                                static_cast<unsigned long>(pid));
}

// static
std::wstring RunFolderName::MakeForThisRun(std::wstring_view prefix) {
  return Make(prefix, base::Time::Now(), ::GetCurrentProcessId());
}

// static
std::optional<RunFolderName> RunFolderName::Parse(std::wstring_view name) {
  if (name.size() > kMaxNameLength)
    return std::nullopt;
  const std::wstring_view stem = name.substr(0, name.find(L'.'));
  const size_t pid_separator = stem.rfind(L'_');
  // At least one character of prefix, its separator, the digits and theirs.
  if (pid_separator == std::wstring_view::npos ||
      pid_separator < kTimeDigits + 2 ||
      stem[pid_separator - kTimeDigits - 1] != L'_') {
    return std::nullopt;
  }
  const std::wstring_view pid_text = stem.substr(pid_separator + 1);
  const std::wstring_view time_text =
      stem.substr(pid_separator - kTimeDigits, kTimeDigits);
  uint32_t pid = 0;
  if (!IsDigits(time_text) || !IsDigits(pid_text) ||
      pid_text.size() > kMaxPidDigits ||
      !base::WideStringToUint(
          base::WideStringSlice(pid_text.data(), pid_text.size()), &pid) || pid == 0) {
    return std::nullopt;
  }
  return RunFolderName(
      std::wstring(stem.substr(0, pid_separator - kTimeDigits - 1)),
      std::wstring(time_text), pid);
}

RunFolderName::RunFolderName(std::wstring prefix,
                             std::wstring time_digits,
                             uint32_t pid)
    : prefix_(std::move(prefix)),
      time_digits_(std::move(time_digits)),
      pid_(pid) {}

}  // namespace installer
