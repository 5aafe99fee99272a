// Runs one file utility on real folders, so that end-to-end tests can build
// trees (with Unix symbolic links) and check the outcome with Python.
//   file_util_tool copy FROM TO         CopyDirectory
//   file_util_tool move FROM TO         MovePath
//   file_util_tool delete PATH [flat]   DeletePath, recursive unless "flat"
//   file_util_tool list ROOT            recursive FileEnumerator: one line per
//                                       entry, "d " or "f " and the path
//   file_util_tool path KEY...          GetPathForKey: "KEY PATH" or "KEY !"
// Prints "ok", or "fail <last error>" and exits with 1. Text is UTF-8.

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_local_alloc.h"

namespace {

void PrintLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

int Finish(bool ok) {
  if (ok) {
    PrintLine("ok");
    return 0;
  }
  PrintLine("fail " + std::to_string(::GetLastError()));
  return 1;
}

bool List(const base::FilePath& root) {
  base::FileEnumerator entries(
      root, base::FileEnumerator::kFiles | base::FileEnumerator::kDirectories);
  for (base::FilePath entry = entries.Next(); !entry.empty();
       entry = entries.Next()) {
    const bool is_directory =
        entries.GetInfo().dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    PrintLine((is_directory ? "d " : "f ") + entry.AsUTF8());
  }
  ::SetLastError(entries.error());
  return entries.error() == ERROR_SUCCESS;
}

bool PrintPaths(const std::vector<std::wstring>& keys) {
  for (const std::wstring& key : keys) {
    base::FilePath path;
    const bool found = base::GetPathForKey(_wtoi(key.c_str()), &path);
    PrintLine(base::WideToUtf8(key) + " " + (found ? path.AsUTF8() : "!"));
  }
  return true;
}

int Run(const std::vector<std::wstring>& args) {
  if (args.size() < 2)
    return 2;
  const std::wstring& command = args[0];
  const base::FilePath first(args[1]);
  if (command == L"copy" && args.size() == 3)
    return Finish(base::CopyDirectory(first, base::FilePath(args[2])));
  if (command == L"move" && args.size() == 3)
    return Finish(base::MovePath(first, base::FilePath(args[2])));
  if (command == L"delete")
    return Finish(
        base::DeletePath(first, args.size() < 3 || args[2] != L"flat"));
  if (command == L"list")
    return Finish(List(first));
  if (command == L"path")
    return Finish(PrintPaths({args.begin() + 1, args.end()}));
  return 2;
}

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  int count = 0;
  base::win::ScopedLocalAlloc<wchar_t*> argv(
      ::CommandLineToArgvW(::GetCommandLineW(), &count));
  if (!argv)
    return 2;
  return Run(std::vector<std::wstring>(argv.Get() + 1, argv.Get() + count));
}
