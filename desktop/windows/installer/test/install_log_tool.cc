// Reads and writes install logs for the end-to-end tests, which parse and
// write the log with their own XML library and compare what comes back.
//
//   install_log_tool --log=<path>
//       prints {"ok": bool, "error": text, "log": record} as JSON (UTF-8);
//       exit 0 when the read succeeded, 1 when it failed.
//   install_log_tool --write=<path> --record=<json file>
//       writes the record, given in the printed form, as an install log;
//       exit 0 when written, 1 when the write failed, 2 for a bad record.
//
// A key record holds "view": "32" only when the key is in the 32-bit view.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/values.h"
#include "base/win/scoped_com_initializer.h"
#include "desktop/windows/installer/install_log/install_log_reader.h"
#include "desktop/windows/installer/install_log/install_log_writer.h"

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
    if (key.view & KEY_WOW64_32KEY)
      entry->SetStringByKey("view", "32");
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

bool ReadWideList(const DictionaryValue& record,
                  const char* key,
                  std::vector<std::wstring>* texts) {
  const ListValue* list;
  if (!record.GetList(key, &list))
    return false;
  for (size_t i = 0; i < list->GetSize(); ++i) {
    const base::Value* item;
    std::wstring text;
    if (!list->Get(i, &item) || !item->GetAsWideString(&text))
      return false;
    texts->push_back(std::move(text));
  }
  return true;
}

// Each entry of `list` as a list of strings.
bool ReadStringRows(const ListValue& list,
                    std::vector<std::vector<const base::Value*>>* rows) {
  for (size_t i = 0; i < list.GetSize(); ++i) {
    const base::Value* item;
    const ListValue* row;
    if (!list.Get(i, &item) || !item->GetAsList(&row))
      return false;
    rows->emplace_back();
    for (size_t j = 0; j < row->GetSize(); ++j) {
      const base::Value* cell;
      if (!row->Get(j, &cell) || cell->type() != base::Value::Type::kString)
        return false;
      rows->back().push_back(cell);
    }
  }
  return true;
}

bool ReadKey(const base::Value& item, installer::RegistryKeyRecord* key) {
  const DictionaryValue* entry;
  const ListValue* values;
  std::vector<std::vector<const base::Value*>> rows;
  if (!item.GetAsDictionary(&entry) ||
      !entry->GetInteger("clean", &key->clean_depth) ||
      !entry->GetString("path", &key->key_path) ||
      !entry->GetList("values", &values) || !ReadStringRows(*values, &rows)) {
    return false;
  }
  std::string view;
  if (entry->GetString("view", &view)) {
    if (view != "32")
      return false;
    key->view = KEY_WOW64_32KEY;
  }
  for (const auto& row : rows) {
    installer::RegistryValueRecord value;
    if (row.size() != 3 || !row[0]->GetAsString(&value.type_name) ||
        !row[1]->GetAsString(&value.name) || !row[2]->GetAsString(&value.data))
      return false;
    key->values.push_back(std::move(value));
  }
  return true;
}

bool ReadRegistry(const DictionaryValue& record,
                  const char* name,
                  installer::RegistryData* registry) {
  const ListValue* keys;
  if (!record.GetList(name, &keys))
    return false;
  for (size_t i = 0; i < keys->GetSize(); ++i) {
    const base::Value* item;
    installer::RegistryKeyRecord key;
    if (!keys->Get(i, &item) || !ReadKey(*item, &key))
      return false;
    registry->push_back(std::move(key));
  }
  return true;
}

bool ReadComponents(const DictionaryValue& record, installer::InstallLog* log) {
  const ListValue* list;
  std::vector<std::vector<const base::Value*>> rows;
  if (!record.GetList("components", &list) || !ReadStringRows(*list, &rows))
    return false;
  for (const auto& row : rows) {
    std::string name;
    std::wstring path;
    if (row.size() != 2 || !row[0]->GetAsString(&name) ||
        !row[1]->GetAsWideString(&path))
      return false;
    log->components.emplace_back(std::move(name), std::move(path));
  }
  return true;
}

bool ReadRecord(const DictionaryValue& record, installer::InstallLog* log) {
  return record.GetBoolean("copy_only", &log->copy_only) &&
         record.GetBoolean("all_users", &log->all_users) &&
         record.GetBoolean("pinned", &log->pinned) &&
         record.GetString("app_id", &log->app_id) &&
         record.GetWideString("path", &log->path) &&
         record.GetWideString("subfolder", &log->subfolder) &&
         record.GetString("version", &log->version) &&
         record.GetWideString("desktop_shortcut", &log->desktop_shortcut) &&
         record.GetWideString("start_menu_shortcut",
                              &log->start_menu_shortcut) &&
         record.GetWideString("quick_launch_shortcut",
                              &log->quick_launch_shortcut) &&
         ReadWideList(record, "files", &log->files) &&
         ReadWideList(record, "root_files", &log->root_files) &&
         ReadComponents(record, log) &&
         ReadRegistry(record, "hklm_registry", &log->hklm_registry) &&
         ReadRegistry(record, "hkcu_registry", &log->hkcu_registry);
}

void PrintJson(const base::Value& value) {
  std::string json;
  base::WriteJson(value, &json);
  _setmode(_fileno(stdout), _O_BINARY);
  std::fwrite(json.data(), 1, json.size(), stdout);
}

int ReadLog(const base::FilePath& path) {
  installer::InstallLog log;
  installer::InstallLogReader reader;
  const bool ok = reader.Read(&log, path);
  DictionaryValue answer;
  answer.SetByKey("ok", base::MakeBooleanValue(ok));
  answer.SetStringByKey("error", reader.error());
  answer.SetByKey("log", LogRecord(log));
  PrintJson(answer);
  return ok ? 0 : 1;
}

int WriteLog(const base::FilePath& path, const base::FilePath& record_path) {
  std::string json;
  if (!base::ReadFileToString(record_path, &json))
    return 2;
  base::ValueOwner value = base::ReadJson(json);
  const DictionaryValue* record;
  installer::InstallLog log;
  if (!value || !value->GetAsDictionary(&record) || !ReadRecord(*record, &log))
    return 2;
  const bool ok = installer::InstallLogWriter().Write(log, path);
  DictionaryValue answer;
  answer.SetByKey("ok", base::MakeBooleanValue(ok));
  PrintJson(answer);
  return ok ? 0 : 1;
}

}  // namespace

int main() {
  base::CommandLine::Init();
  const base::CommandLine& switches = *base::CommandLine::ForCurrentProcess();
  base::win::ScopedCOMInitializer com;
  if (!com.Succeeded())
    return 3;
  if (switches.HasSwitch("write")) {
    return WriteLog(switches.GetSwitchValuePath("write"),
                    switches.GetSwitchValuePath("record"));
  }
  return ReadLog(switches.GetSwitchValuePath("log"));
}
