// Writes and reads shell links for the end-to-end tests, which check them
// against their own reader and writer of the .lnk format.
//
//   shortcut_tool --mode=write --link=<path> [--operation=<0|1|2>]
//       [--target=] [--working-dir=] [--arguments=] [--description=]
//       [--icon=] [--icon-index=] [--app-id=] [--dual-mode=<0|1>]
//       CreateOrUpdateShortcut with the fields given; exit 0 on success.
//   shortcut_tool --mode=read --link=<path>
//       prints "<field>=<value>" lines (UTF-8) for target, working_dir,
//       arguments, description, icon and icon_index; exit 0 on success.

#include <windows.h>

#include <cstdio>
#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/shortcut.h"

namespace {

using base::win::ShortcutProperties;

ShortcutProperties PropertiesFromSwitches(const base::CommandLine& switches) {
  ShortcutProperties properties;
  if (switches.HasSwitch("target"))
    properties.set_target(switches.GetSwitchValuePath("target"));
  if (switches.HasSwitch("working-dir"))
    properties.set_working_directory(switches.GetSwitchValuePath("working-dir"));
  if (switches.HasSwitch("arguments"))
    properties.set_arguments(switches.GetSwitchValueNative("arguments"));
  if (switches.HasSwitch("description"))
    properties.set_description(switches.GetSwitchValueNative("description"));
  if (switches.HasSwitch("icon")) {
    int32_t index = 0;
    base::StringToInt(switches.GetSwitchValueASCII("icon-index"), &index);
    properties.set_icon(switches.GetSwitchValuePath("icon"), index);
  }
  if (switches.HasSwitch("app-id"))
    properties.set_app_id(switches.GetSwitchValueNative("app-id"));
  if (switches.HasSwitch("dual-mode"))
    properties.set_dual_mode(switches.GetSwitchValueASCII("dual-mode") == "1");
  return properties;
}

void PrintField(const char* name, const std::wstring& value) {
  std::printf("%s=%s\n", name, base::WideToUtf8(value).c_str());
}

int Read(const base::FilePath& link) {
  ShortcutProperties properties;
  const uint32_t fields =
      ShortcutProperties::kTarget | ShortcutProperties::kWorkingDirectory |
      ShortcutProperties::kArguments | ShortcutProperties::kDescription |
      ShortcutProperties::kIcon;
  if (!base::win::ResolveShortcutProperties(link, fields, &properties))
    return 1;
  PrintField("target", properties.target.value());
  PrintField("working_dir", properties.working_directory.value());
  PrintField("arguments", properties.arguments);
  PrintField("description", properties.description);
  PrintField("icon", properties.icon.value());
  std::printf("icon_index=%d\n", static_cast<int>(properties.icon_index));
  return 0;
}

}  // namespace

int main() {
  base::CommandLine::Init();
  const base::CommandLine& switches = *base::CommandLine::ForCurrentProcess();
  base::win::ScopedCOMInitializer com;
  if (!com.Succeeded())
    return 3;
  const base::FilePath link = switches.GetSwitchValuePath("link");
  const std::string mode = switches.GetSwitchValueASCII("mode");
  if (mode == "read")
    return Read(link);
  if (mode == "write") {
    int32_t operation = base::win::kShortcutCreateAlways;
    if (switches.HasSwitch("operation"))
      base::StringToInt(switches.GetSwitchValueASCII("operation"), &operation);
    return base::win::CreateOrUpdateShortcut(
               link, PropertiesFromSwitches(switches), operation)
               ? 0
               : 1;
  }
  std::fprintf(stderr, "unknown mode\n");
  return 2;
}
