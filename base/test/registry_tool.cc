// Reads and writes registry values through RegistryKey and prints what the
// version record and the UI language list hold, so that the end-to-end tests
// can compare them with `reg` and the prefix's settings.
//
//   registry_tool --op=write-string --key=HKCU\<path> [--name=<value name>]
//       [--view=32|64]
//       stores the UTF-8 text of stdin; prints "result <code>"
//   registry_tool --op=read-string --key=... [--name=...] [--view=...]
//       prints "result <code>", a line feed and the UTF-8 text
//   registry_tool --op=read-dword --key=... [--name=...] [--view=...]
//       prints "result <code> <decimal value>"
//   registry_tool --op=open --key=... --access=read|write [--view=...]
//       builds a RegistryKey; prints "valid 0|1"
//   registry_tool --op=version
//       prints the version record as "<field>=<value>" lines
//   registry_tool --op=languages
//       prints the preferred UI languages, one per line
// Without --name the key's default value is used.

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/ui_languages.h"
#include "base/win/windows_version.h"

namespace {

using base::win::RegistryKey;

struct Root {
  const wchar_t* name;
  HKEY key;
};
const Root kRoots[] = {
    {L"HKCU\\", HKEY_CURRENT_USER},
    {L"HKLM\\", HKEY_LOCAL_MACHINE},
};

// Splits "HKCU\<path>" into its root and path; null root when unknown.
HKEY SplitKey(const std::wstring& key, std::wstring* path) {
  for (const Root& root : kRoots) {
    if (key.compare(0, wcslen(root.name), root.name) == 0) {
      *path = key.substr(wcslen(root.name));
      return root.key;
    }
  }
  return nullptr;
}

REGSAM ViewOf(const base::CommandLine& command_line) {
  const std::string view = command_line.GetSwitchValueASCII("view");
  if (view == "32")
    return KEY_WOW64_32KEY;
  if (view == "64")
    return KEY_WOW64_64KEY;
  return 0;
}

void Print(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

struct ValueArgs {
  HKEY root;
  std::wstring path;
  std::wstring name;
  bool has_name;
  REGSAM view;

  const wchar_t* name_or_default() const {
    return has_name ? name.c_str() : nullptr;
  }
};

int WriteString(const ValueArgs& args) {
  std::string input((std::istreambuf_iterator<char>(std::cin)),
                    std::istreambuf_iterator<char>());
  const std::wstring text = base::Utf8ToWide(input);
  RegistryKey key;
  LONG result = key.Create(args.root, args.path.c_str(), KEY_WRITE | args.view);
  if (result == ERROR_SUCCESS)
    result = key.WriteString(args.name_or_default(), text.c_str());
  Print("result " + std::to_string(result) + "\n");
  return 0;
}

int ReadString(const ValueArgs& args) {
  RegistryKey key;
  std::wstring text;
  LONG result = key.Open(args.root, args.path.c_str(), KEY_READ | args.view);
  if (result == ERROR_SUCCESS)
    result = key.ReadString(args.name_or_default(), &text);
  Print("result " + std::to_string(result) + "\n" + base::WideToUtf8(text));
  return 0;
}

int ReadDword(const ValueArgs& args) {
  RegistryKey key;
  DWORD value = 0;
  LONG result = key.Open(args.root, args.path.c_str(), KEY_READ | args.view);
  if (result == ERROR_SUCCESS)
    result = key.ReadDword(args.name_or_default(), &value);
  Print("result " + std::to_string(result) + " " + std::to_string(value) +
        "\n");
  return 0;
}

int OpenKey(const ValueArgs& args, const std::string& access) {
  const RegistryKey key(args.root, args.path.c_str(),
                        (access == "write" ? KEY_WRITE : KEY_READ) | args.view);
  Print(std::string("valid ") + (key.Valid() ? "1" : "0") + "\n");
  return 0;
}

int PrintVersion() {
  const base::win::WindowsVersionInfo& info = base::win::GetWindowsVersionInfo();
  const auto number = info.version_number();
  const auto service_pack = info.service_pack();
  const std::pair<const char*, std::string> kFields[] = {
      {"version", std::to_string(info.version())},
      {"major", std::to_string(number.major)},
      {"minor", std::to_string(number.minor)},
      {"build", std::to_string(number.build)},
      {"ubr", std::to_string(info.update_build_revision())},
      {"edition", std::to_string(info.edition())},
      {"service_pack_major", std::to_string(service_pack.major)},
      {"service_pack_minor", std::to_string(service_pack.minor)},
      {"service_pack_text", info.service_pack_text()},
      {"architecture", std::to_string(info.architecture())},
      {"processor_count", std::to_string(info.processor_count())},
      {"allocation_granularity", std::to_string(info.allocation_granularity())},
      {"wow64_status", std::to_string(info.wow64_status())},
  };
  for (const auto& [field, value] : kFields)
    Print(std::string(field) + "=" + value + "\n");
  return 0;
}

int PrintLanguages() {
  std::vector<std::wstring> names;
  if (!base::win::GetPreferredUiLanguages(&names))
    return 1;
  for (const std::wstring& name : names)
    Print(base::WideToUtf8(name) + "\n");
  return 0;
}

}  // namespace

int main() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  base::CommandLine::Init();
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  const std::string op = command_line.GetSwitchValueASCII("op");
  if (op == "version")
    return PrintVersion();
  if (op == "languages")
    return PrintLanguages();

  ValueArgs args;
  args.root = SplitKey(command_line.GetSwitchValueNative("key"), &args.path);
  args.has_name = command_line.HasSwitch("name");
  args.name = command_line.GetSwitchValueNative("name");
  args.view = ViewOf(command_line);
  if (!args.root) {
    Print("unknown key\n");
    return 2;
  }
  if (op == "write-string")
    return WriteString(args);
  if (op == "read-string")
    return ReadString(args);
  if (op == "read-dword")
    return ReadDword(args);
  if (op == "open")
    return OpenKey(args, command_line.GetSwitchValueASCII("access"));
  Print("unknown op\n");
  return 2;
}
