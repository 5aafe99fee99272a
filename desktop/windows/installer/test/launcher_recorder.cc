// Stands in for the browser's launcher in a demo package: appends its
// command line to "launcher_started.txt" beside itself and ends with 0, so
// that a test sees whether, and how, the installation started it.
//
// With "/uninstall", the command of the product's uninstall entry, it does
// what the browser's launcher does: it starts the installer of the installed
// version (the sub-folder that "installation_status.xml" beside it names)
// with "--uninstall" and ends, 0 once that started: a launcher still running
// could not be removed by the uninstallation.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kUninstallSwitch[] = L"/uninstall";
constexpr char kSubfolderAttribute[] = "subfolder=\"";
// The install log's head names the sub-folder; nothing past it is read.
constexpr size_t kStatusHeadBytes = 4096;

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length == MAX_PATH)
    return std::wstring();
  std::wstring folder(path, length);
  folder.resize(folder.find_last_of(L'\\') + 1);
  return folder;
}

bool Record(const std::wstring& folder) {
  FILE* file = _wfopen((folder + L"launcher_started.txt").c_str(), L"ab");
  if (!file)
    return false;
  const std::wstring line = std::wstring(GetCommandLineW()) + L"\n";
  const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(),
                                       static_cast<int>(line.size()), nullptr,
                                       0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()),
                      utf8.data(), size, nullptr, nullptr);
  std::fwrite(utf8.data(), 1, utf8.size(), file);
  std::fclose(file);
  return true;
}

// The installed version's sub-folder; empty when the log does not name one.
std::wstring InstalledSubfolder(const std::wstring& folder) {
  FILE* file = _wfopen((folder + L"installation_status.xml").c_str(), L"rb");
  if (!file)
    return std::wstring();
  std::string head(kStatusHeadBytes, '\0');
  head.resize(std::fread(head.data(), 1, head.size(), file));
  std::fclose(file);
  const size_t start = head.find(kSubfolderAttribute);
  if (start == std::string::npos)
    return std::wstring();
  const size_t value = start + sizeof(kSubfolderAttribute) - 1;
  const size_t end = head.find('"', value);
  if (end == std::string::npos)
    return std::wstring();
  const std::string name = head.substr(value, end - value);
  if (name.empty() || name.find_first_of("\\/:") != std::string::npos ||
      name.find("..") != std::string::npos) {
    return std::wstring();
  }
  return std::wstring(name.begin(), name.end());
}

int RunUninstaller(const std::wstring& folder) {
  const std::wstring subfolder = InstalledSubfolder(folder);
  if (subfolder.empty())
    return 1;
  std::wstring command_line =
      L"\"" + folder + subfolder + L"\\installer.exe\" --uninstall";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, &startup, &info)) {
    return 1;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring folder = OwnFolder();
  if (folder.empty() || !Record(folder))
    return 1;
  for (int i = 1; i < argc; ++i) {
    if (_wcsicmp(argv[i], kUninstallSwitch) == 0)
      return RunUninstaller(folder);
  }
  return 0;
}
