#ifndef BASE_TEST_UNIX_LINK_H_
#define BASE_TEST_UNIX_LINK_H_

#include <windows.h>

#include <string>

#include "base/files/file_path.h"

namespace base {

namespace unix_test {

inline std::string UnixPath(const FilePath& path) {
  using Converter = char*(__cdecl*)(const wchar_t*);
  const auto convert = reinterpret_cast<Converter>(
      reinterpret_cast<void*>(::GetProcAddress(
          ::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!convert)
    return std::string();
  char* converted = convert(path.value().c_str());
  if (!converted)
    return std::string();
  std::string result(converted);
  ::HeapFree(::GetProcessHeap(), 0, converted);
  return result;
}

// Wine starts a Unix program apart from its own processes: it gives back
// no process handle (and a thread value that is no handle), so neither
// its end nor its exit code comes through, and the caller waits for the
// outcome.
inline bool RunUnix(const wchar_t* program, const std::string& arguments) {
  std::wstring command_line = L"\"" + std::wstring(program) + L"\" ";
  for (char unit : arguments)  // The test paths are ASCII.
    command_line += static_cast<wchar_t>(static_cast<unsigned char>(unit));
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION process = {};
  return ::CreateProcessW(program, command_line.data(), nullptr, nullptr,
                          FALSE, 0, nullptr, nullptr, &startup,
                          &process) != FALSE;
}

// Polled: a generous bound, as the program's end cannot be waited for.
inline bool WaitUntilListed(const FilePath& path, bool listed) {
  for (int round = 0; round < 600; ++round) {
    WIN32_FIND_DATAW found;
    const HANDLE find = ::FindFirstFileW(path.value().c_str(), &found);
    if (find != INVALID_HANDLE_VALUE)
      ::FindClose(find);
    if ((find != INVALID_HANDLE_VALUE) == listed)
      return true;
    ::Sleep(50);
  }
  return false;
}

}  // namespace unix_test

// Renames `from` to `to` with the Unix `mv`, as a Linux process of the
// user's can: it ignores the share modes of Wine's handles, so a folder
// that Wine keeps from being renamed is renamed all the same. False where
// it could not be (not under Wine).
inline bool RenameWithUnix(const FilePath& from, const FilePath& to) {
  const std::string unix_from = unix_test::UnixPath(from);
  const std::string unix_to = unix_test::UnixPath(to);
  return !unix_from.empty() && !unix_to.empty() &&
         unix_test::RunUnix(L"Z:\\bin\\mv",
                            "\"" + unix_from + "\" \"" + unix_to + "\"") &&
         unix_test::WaitUntilListed(to, true) &&
         unix_test::WaitUntilListed(from, false);
}

// A Unix symbolic link made for a test by the Unix `ln -s`, which Wine runs
// when a Windows program starts it: CreateSymbolicLinkW reports success
// under Wine but makes nothing. Wine shows a link to a folder as a
// reparse point and a link to a file as a plain file. Removed by `rm` on
// destruction: Windows calls on the link reach its target there. Declare
// it after the tree it lies in, so that it goes first.
class ScopedUnixLink {
 public:
  ScopedUnixLink(const FilePath& link, const FilePath& target) {
    const std::string unix_link = unix_test::UnixPath(link);
    const std::string unix_target = unix_test::UnixPath(target);
    if (unix_link.empty() || unix_target.empty())
      return;
    if (unix_test::RunUnix(L"Z:\\bin\\ln", "-s \"" + unix_target + "\" \"" +
                                                  unix_link + "\"") &&
        unix_test::WaitUntilListed(link, true)) {
      unix_link_ = unix_link;
      link_ = link;
    }
  }
  ScopedUnixLink(const ScopedUnixLink&) = delete;
  ScopedUnixLink& operator=(const ScopedUnixLink&) = delete;
  ~ScopedUnixLink() {
    if (!unix_link_.empty() &&
        unix_test::RunUnix(L"Z:\\bin\\rm", "-f \"" + unix_link_ + "\"")) {
      unix_test::WaitUntilListed(link_, false);
    }
  }

  // False where no link could be made (not under Wine).
  bool made() const { return !unix_link_.empty(); }

 private:
  std::string unix_link_;
  FilePath link_;
};

}  // namespace base

#endif  // BASE_TEST_UNIX_LINK_H_
