#ifndef DESKTOP_WINDOWS_INSTALLER_PRODUCT_RUN_FOLDER_NAME_H_
#define DESKTOP_WINDOWS_INSTALLER_PRODUCT_RUN_FOLDER_NAME_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/time/time.h"

namespace installer {

// The name of what one installer run leaves in a folder (its journal, its
// log, its downloads and unpacked package): "<prefix>_<14 digits>_<pid>",
// the digits the time the run made it, "yyyymmddhhmmss" in UTC. The next
// run tells from it whose entry it is, and so whether its owner is gone.
// Every maker and reader of such a name goes through here.
class RunFolderName {
 public:
  // What the package fetcher keeps beside its package folder, each named
  // after the folder: the only names of a run's downloads, so that the next
  // run can tell a dead run's leftovers from anything else by name alone.
  enum class FetcherFile {
    kPackageFolder,            // "<name>": the unpacked package
    kPackage,                  // "<name>.exe": the path the others follow
    kTryDownload,              // "<name>_<try>.exe": one try's download
    kTryArchive,               // "<name>_<try>.7z": beside that download
    kAdditionalFileTemporary,  // "<name>.additional_file.tmp"
  };

  // The longest "_<14 digits>_<pid>" that follows a prefix.
  static constexpr size_t kLongestSuffix = 1 + 14 + 1 + 10;

  // UTC, so that the names of successive runs sort in the order they were
  // made across a daylight-saving change or a move of the time zone.
  static std::wstring Make(std::wstring_view prefix, base::Time time,
                           uint32_t pid);
  // The name this process gives its entries, now.
  static std::wstring MakeForThisRun(std::wstring_view prefix);

  // Reads "<prefix>_<14 digits>_<pid>", optionally followed by "." and
  // anything (an extension); the digits are read as a shape only, so the
  // local-time names of earlier versions still parse. Empty for any other
  // name: no prefix, another digit count, a pid that is not a 32-bit number
  // above 0, a name longer than a path can be.
  static std::optional<RunFolderName> Parse(std::wstring_view name);

  // The name of `file` beside the package folder `folder_name` (a name Make
  // made); `try_number` counts only for the two kinds of a try.
  static std::wstring MakeFetcherFile(std::wstring_view folder_name,
                                      FetcherFile file,
                                      uint32_t try_number = 0);
  // Reads exactly a name that MakeFetcherFile makes: its suffix in any case
  // (as the file system matches names), a try number as the fetcher writes
  // it (no sign, no leading zero, 32 bits) and only where its kind has one.
  // Empty for any other name, a run's log or journal among them.
  static std::optional<RunFolderName> ParseFetcherFile(std::wstring_view name);

  const std::wstring& prefix() const { return prefix_; }
  const std::wstring& time_digits() const { return time_digits_; }
  uint32_t pid() const { return pid_; }
  // Set only by ParseFetcherFile; the try number only for a try's files.
  std::optional<FetcherFile> fetcher_file() const { return fetcher_file_; }
  std::optional<uint32_t> try_number() const { return try_number_; }

 private:
  RunFolderName(std::wstring prefix, std::wstring time_digits, uint32_t pid);

  // "<prefix>_<14 digits>_<pid>" and nothing more.
  static std::optional<RunFolderName> ParseStem(std::wstring_view stem);
  // The same followed by "_<try>".
  static std::optional<RunFolderName> ParseStemWithTry(std::wstring_view stem);

  std::wstring prefix_;
  std::wstring time_digits_;
  uint32_t pid_ = 0;
  std::optional<FetcherFile> fetcher_file_;
  std::optional<uint32_t> try_number_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PRODUCT_RUN_FOLDER_NAME_H_
