// Writes the installation's registry entries for the end-to-end tests, which
// compare what lands in the registry and in the install log's registry data
// with what they compute from the same rows and placeholders.
//
//   registry_table_tool --root=machine|user --redirect=<key below HKCU>
//                       --placeholders=<JSON file: {name: value}>
//       points the root at HKCU\<redirect>, writes every row of the
//       installation entries that applies in one transaction, noting the
//       values as the installer does, and prints JSON (UTF-8):
//       {"ok": bool, "windows_version": n, "channel": n, "operations": n,
//        "registry": [{"path", "clean", "view", "values": [[type, name,
//        data]]}]}. Exit 0 when every operation succeeded.

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "base/command_line.h"
#include "base/features/feature_tables.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/registry.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/placeholder_resolver.h"
#include "desktop/windows/installer/service/registry_entry.h"
#include "desktop/windows/installer/service/registry_entry_tables.h"
#include "desktop/windows/installer/service/transactions/operation.h"
#include "desktop/windows/installer/service/transactions/transaction.h"

namespace {

using base::DictionaryValue;
using base::ListValue;
using base::MakeValue;

// Stands in for the installer core's resolver while it records: the values
// come from the test, the written values are noted for the root.
class TestResolver : public installer::PlaceholderResolver {
 public:
  explicit TestResolver(base::DictionaryValueOwner values)
      : values_(std::move(values)) {}

  std::wstring Resolve(const std::wstring& name) override {
    const base::Value* value = nullptr;
    std::wstring text;
    if (values_->GetByKey(base::WideToUtf8(name), &value) &&
        value->GetAsWideString(&text)) {
      return text;
    }
    return name;
  }
  installer::RegistryData* GetRegistryRecord(HKEY root) override {
    return root == HKEY_LOCAL_MACHINE ? &log_.hklm_registry
                                      : &log_.hkcu_registry;
  }

 private:
  base::DictionaryValueOwner values_;
  installer::InstallLog log_;
};

// The root's own keys stay untouched: it is pointed at a test key, whose
// "Software" has a "Wow6432Node" as a 64-bit system's hive has, so that the
// 32-bit view lands apart as it does there.
bool RedirectRoot(HKEY root, const base::win::RegistryKey& key) {
  base::win::RegistryKey wow64(key.Handle(), L"Software\\Wow6432Node",
                               KEY_ALL_ACCESS);
  return key.Valid() && wow64.Valid() &&
         RegOverridePredefKey(root, key.Handle()) == ERROR_SUCCESS;
}

base::ValueOwner RecordList(const installer::RegistryData& registry) {
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
    entry->SetStringByKey("path", key.key_path);
    entry->SetByKey("clean", MakeValue<base::Value>(key.clean_depth));
    entry->SetByKey("view",
                    MakeValue<base::Value>(static_cast<int32_t>(key.view)));
    entry->SetByKey("values", std::move(values));
    keys->Append(std::move(entry));
  }
  return keys;
}

// Every operation or none, as the installation's transaction keeps them.
bool WriteInstallationEntries(HKEY root,
                              TestResolver* resolver,
                              int32_t* operations) {
  installer::Transaction transaction;
  for (const installer::RegistryEntryDescription& row :
       installer::GetInstallationEntries()) {
    std::unique_ptr<installer::Operation> operation;
    if (!installer::RegistryEntry(row, resolver)
             .CreateOperation(root, &operation)) {
      return false;
    }
    if (!operation)
      continue;
    if (!transaction.ExecuteOperation(std::move(operation))) {
      transaction.RollbackOperations();
      return false;
    }
    ++*operations;
  }
  return true;
}

}  // namespace

int main() {
  base::CommandLine::Init();
  const base::CommandLine& switches = *base::CommandLine::ForCurrentProcess();
  const HKEY root = switches.GetSwitchValueASCII("root") == "machine"
                        ? HKEY_LOCAL_MACHINE
                        : HKEY_CURRENT_USER;
  std::string json;
  if (!base::ReadFileToString(switches.GetSwitchValuePath("placeholders"),
                              &json)) {
    return 2;
  }
  base::DictionaryValueOwner values =
      base::DictionaryValue::From(base::ReadJson(json));
  const base::win::RegistryKey redirect(
      HKEY_CURRENT_USER, switches.GetSwitchValueNative("redirect").c_str(),
      KEY_ALL_ACCESS);
  if (!values || !RedirectRoot(root, redirect))
    return 2;

  TestResolver resolver(std::move(values));
  int32_t operations = 0;
  const bool ok = WriteInstallationEntries(root, &resolver, &operations);

  DictionaryValue answer;
  answer.SetByKey("ok", base::MakeBooleanValue(ok));
  answer.SetByKey("windows_version", MakeValue<base::Value>(static_cast<int32_t>(
                                         base::win::GetWindowsVersion())));
  answer.SetByKey("channel", MakeValue<base::Value>(base::GetReleaseChannel()));
  answer.SetByKey("operations", MakeValue<base::Value>(operations));
  answer.SetByKey("registry",
                  RecordList(*resolver.GetRegistryRecord(root)));
  std::string output;
  base::WriteJson(answer, &output);
  _setmode(_fileno(stdout), _O_BINARY);
  std::fwrite(output.data(), 1, output.size(), stdout);
  return ok ? 0 : 1;
}
