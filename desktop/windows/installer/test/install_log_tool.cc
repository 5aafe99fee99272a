// Reads an install log for the end-to-end tests, which write the log with
// their own XML library and compare what comes back.
//
//   install_log_tool --log=<path>
//       prints {"ok": bool, "error": text, "log": record} as JSON (UTF-8);
//       exit 0 when the read succeeded, 1 when it failed.

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/json/json_writer.h"
#include "base/values.h"
#include "base/win/scoped_com_initializer.h"
#include "desktop/windows/installer/service/install_log_reader.h"

namespace {

using base::DictionaryValue;
using base::ListValue;
using base::MakeValue;

base::ValueOwner WideList(const std::vector<std::wstring>& texts) {
  auto list = MakeValue<ListValue>();
  for (const std::wstring& text : texts)
    list->Append(MakeValue<base::Value>(base::WideStringSlice(text)));
  return list;
}

base::ValueOwner RegistryList(const installer::RegistryData& registry) {
  auto keys = MakeValue<ListValue>();
  for (const installer::RegistryKeyRecord& key : registry) {
    auto values = MakeValue<ListValue>();
    for (const installer::RegistryValueRecord& value : key.values) {
      auto entry = MakeValue<ListValue>();
      entry->AppendString(value.type_name);
      entry->AppendString(value.name);
      entry->AppendString(value.data);
      values->Append(std::move(entry));
    }
    auto entry = MakeValue<DictionaryValue>();
    entry->SetByKey("clean", MakeValue<base::Value>(key.clean_depth));
    entry->SetStringByKey("path", key.key_path);
    entry->SetByKey("values", std::move(values));
    keys->Append(std::move(entry));
  }
  return keys;
}

base::ValueOwner LogRecord(const installer::InstallLog& log) {
  auto record = MakeValue<DictionaryValue>();
  auto set_wide = [&](const char* key, const std::wstring& text) {
    record->SetByKey(key, MakeValue<base::Value>(base::WideStringSlice(text)));
  };
  record->SetByKey("copy_only", base::MakeBooleanValue(log.copy_only));
  record->SetByKey("all_users", base::MakeBooleanValue(log.all_users));
  record->SetByKey("pinned", base::MakeBooleanValue(log.pinned));
  record->SetStringByKey("app_id", log.app_id);
  set_wide("path", log.path);
  set_wide("subfolder", log.subfolder);
  record->SetStringByKey("version", log.version);
  set_wide("desktop_shortcut", log.desktop_shortcut);
  set_wide("start_menu_shortcut", log.start_menu_shortcut);
  set_wide("quick_launch_shortcut", log.quick_launch_shortcut);
  record->SetByKey("files", WideList(log.files));
  record->SetByKey("root_files", WideList(log.root_files));
  auto components = MakeValue<ListValue>();
  for (const auto& [name, path] : log.components) {
    auto pair = MakeValue<ListValue>();
    pair->AppendString(name);
    pair->Append(MakeValue<base::Value>(base::WideStringSlice(path)));
    components->Append(std::move(pair));
  }
  record->SetByKey("components", std::move(components));
  record->SetByKey("hklm_registry", RegistryList(log.hklm_registry));
  record->SetByKey("hkcu_registry", RegistryList(log.hkcu_registry));
  return record;
}

}  // namespace

int main() {
  base::CommandLine::Init();
  const base::CommandLine& switches = *base::CommandLine::ForCurrentProcess();
  base::win::ScopedCOMInitializer com;
  if (!com.Succeeded())
    return 3;
  installer::InstallLog log;
  installer::InstallLogReader reader;
  const bool ok = reader.Read(&log, switches.GetSwitchValuePath("log"));
  DictionaryValue answer;
  answer.SetByKey("ok", base::MakeBooleanValue(ok));
  answer.SetStringByKey("error", reader.error());
  answer.SetByKey("log", LogRecord(log));
  std::string json;
  base::WriteJson(answer, &json);
  _setmode(_fileno(stdout), _O_BINARY);
  std::fwrite(json.data(), 1, json.size(), stdout);
  return ok ? 0 : 1;
}
