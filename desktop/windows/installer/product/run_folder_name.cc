#include "desktop/windows/installer/product/run_folder_name.h"

#include <windows.h>

#include <utility>

#include "base/logging.h"
#include "base/strings/string_format.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"

namespace installer {

namespace {

constexpr size_t kTimeDigits = 14;
// 4294967295: no longer number (a pid, a try) fits in 32 bits.
constexpr size_t kMax32BitDigits = 10;
static_assert(RunFolderName::kLongestSuffix ==
              2 + kTimeDigits + kMax32BitDigits);
// A file name cannot be longer; a longer one is not ours.
constexpr size_t kMaxNameLength = MAX_PATH;

bool IsDigits(std::wstring_view text) {
  return !text.empty() &&
         text.find_first_not_of(L"0123456789") == std::wstring_view::npos;
}

// What follows the package folder's name in each of the fetcher's names.
struct FetcherFileForm {
  RunFolderName::FetcherFile file;
  bool has_try;
  const char* extension;  // lower case; empty for the folder
};
constexpr FetcherFileForm kFetcherFileForms[] = {
    {RunFolderName::FetcherFile::kPackageFolder, false, ""},
    {RunFolderName::FetcherFile::kPackage, false, ".exe"},
    {RunFolderName::FetcherFile::kTryDownload, true, ".exe"},
    {RunFolderName::FetcherFile::kTryArchive, true, ".7z"},
    {RunFolderName::FetcherFile::kAdditionalFileTemporary, false,
     ".additional_file.tmp"},
};

const FetcherFileForm& GetForm(RunFolderName::FetcherFile file) {
  for (const FetcherFileForm& form : kFetcherFileForms) {
    if (form.file == file)
      return form;
  }
  CHECK(false);
  return kFetcherFileForms[0];
}

// A number as std::to_wstring writes it, up to 32 bits: "007" and "+7" are
// no try number of ours.
std::optional<uint32_t> ReadCanonicalNumber(std::wstring_view text) {
  uint32_t number = 0;
  if (!IsDigits(text) || text.size() > kMax32BitDigits ||
      (text.size() > 1 && text[0] == L'0') ||
      !base::WideStringToUint(base::WideStringSlice(text.data(), text.size()),
                              &number)) {
    return std::nullopt;
  }
  return number;
}

bool SuffixMatches(std::wstring_view suffix, const char* extension) {
  return suffix.size() == std::char_traits<char>::length(extension) &&
         base::WideLowerCaseEqualsAscii(
             base::WideStringSlice(suffix.data(), suffix.size()), extension);
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
  return ParseStem(name.substr(0, name.find(L'.')));
}

// static
std::wstring RunFolderName::MakeFetcherFile(std::wstring_view folder_name,
                                            FetcherFile file,
                                            uint32_t try_number) {
  const FetcherFileForm& form = GetForm(file);
  std::wstring name(folder_name);
  if (form.has_try)
    name += L"_" + std::to_wstring(try_number);
  for (const char* c = form.extension; *c; ++c)
    name += static_cast<wchar_t>(*c);
  return name;
}

// static
std::optional<RunFolderName> RunFolderName::ParseFetcherFile(
    std::wstring_view name) {
  if (name.size() > kMaxNameLength)
    return std::nullopt;
  const size_t dot = name.find(L'.');
  const std::wstring_view stem = name.substr(0, dot);
  const std::wstring_view suffix =
      dot == std::wstring_view::npos ? std::wstring_view() : name.substr(dot);
  // No stem reads both with and without a try: a pid has too few digits to
  // pass for the time, so the first form that fits is the only one.
  for (const FetcherFileForm& form : kFetcherFileForms) {
    if (!SuffixMatches(suffix, form.extension))
      continue;
    std::optional<RunFolderName> parsed =
        form.has_try ? ParseStemWithTry(stem) : ParseStem(stem);
    if (parsed) {
      parsed->fetcher_file_ = form.file;
      return parsed;
    }
  }
  return std::nullopt;
}

// static
std::optional<RunFolderName> RunFolderName::ParseStemWithTry(
    std::wstring_view stem) {
  const size_t try_separator = stem.rfind(L'_');
  if (try_separator == std::wstring_view::npos)
    return std::nullopt;
  const std::optional<uint32_t> try_number =
      ReadCanonicalNumber(stem.substr(try_separator + 1));
  std::optional<RunFolderName> parsed =
      ParseStem(stem.substr(0, try_separator));
  if (!try_number || !parsed)
    return std::nullopt;
  parsed->try_number_ = try_number;
  return parsed;
}

// static
std::optional<RunFolderName> RunFolderName::ParseStem(std::wstring_view stem) {
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
      pid_text.size() > kMax32BitDigits ||
      !base::WideStringToUint(
          base::WideStringSlice(pid_text.data(), pid_text.size()), &pid) ||
      pid == 0) {
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
