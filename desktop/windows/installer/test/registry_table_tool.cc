// Writes registry entries under a test key for the end-to-end tests, which
// compare what lands in the registry with what they compute from the same
// rows and placeholders.
//
//   registry_table_tool --root=machine|user --redirect=<key below HKCU>
//                       --placeholders=<JSON file: {name: value}>
//       points the root at HKCU\<redirect>, writes every row of the
//       installation entries that applies in one transaction, noting the
//       values as the installer does, and prints JSON (UTF-8):
//       {"ok": bool, "windows_version": n, "channel": n, "operations": n,
//        "registry": [{"path", "clean", "view", "values": [[type, name,
//        data]]}]}. Exit 0 when every operation succeeded.
//
//   registry_table_tool --associations=<JSON file: [step, ...]>
//                       --redirect=<key below HKCU> --install-dir=<folder>
//                       [--all-users-installation] [--machine-classes]
//       points HKEY_CURRENT_USER at HKCU\<redirect>\user and
//       HKEY_LOCAL_MACHINE at HKCU\<redirect>\machine (making their
//       "Software\Classes"), HKEY_CLASSES_ROOT at the user's classes (or the
//       machine's), runs the association operations of the installation in
//       the folder with a recording stand-in for the shell's services, and
//       prints {"windows_version": n, "results": [...], "shell_calls":
//       [...]}. A step is {"call": name, "association": text, "all_users":
//       bool}; its result is a bool, or for "ShellCommand" the command
//       AssocQueryStringW gives (null when there is none). "CreateVolatileKey"
//       makes the volatile key "association" names below the user's root. Exit
//       0 when every step was known.

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <shlwapi.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/features/feature_tables.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/registry.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/product_environment/folder_product_environment.h"
#include "desktop/windows/installer/registry/placeholder_resolver.h"
#include "desktop/windows/installer/registry/registry_entry.h"
#include "desktop/windows/installer/registry/registry_entry_tables.h"
#include "desktop/windows/installer/test/recording_association_shell.h"
#include "desktop/windows/installer/transactions/operation.h"
#include "desktop/windows/installer/transactions/transaction.h"

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

// The association operations' roots. Each has its "Software\Classes" as
// any machine has: creating a key right below a root checks the root's
// access list by name, which Wine refuses to give.
struct AssociationRoots {
  base::win::RegistryKey user;
  base::win::RegistryKey machine;
  base::win::RegistryKey classes;
};

bool RedirectAssociationRoots(const std::wstring& redirect,
                              bool machine_classes,
                              AssociationRoots* roots) {
  constexpr wchar_t kClasses[] = L"Software\\Classes";
  roots->user.Create(HKEY_CURRENT_USER, (redirect + L"\\user").c_str(),
                     KEY_ALL_ACCESS);
  roots->machine.Create(HKEY_CURRENT_USER, (redirect + L"\\machine").c_str(),
                        KEY_ALL_ACCESS);
  base::win::RegistryKey user_classes(roots->user.Handle(), kClasses,
                                      KEY_ALL_ACCESS);
  base::win::RegistryKey machine_classes_key(roots->machine.Handle(), kClasses,
                                             KEY_ALL_ACCESS);
  // Windows shows the user's classes over the machine's in
  // HKEY_CLASSES_ROOT; Wine shows only the machine's there.
  roots->classes.Create(
      machine_classes ? roots->machine.Handle() : roots->user.Handle(),
      kClasses, KEY_ALL_ACCESS);
  return roots->user.Valid() && roots->machine.Valid() &&
         roots->classes.Valid() &&
         RegOverridePredefKey(HKEY_CURRENT_USER, roots->user.Handle()) ==
             ERROR_SUCCESS &&
         RegOverridePredefKey(HKEY_LOCAL_MACHINE, roots->machine.Handle()) ==
             ERROR_SUCCESS &&
         RegOverridePredefKey(HKEY_CLASSES_ROOT, roots->classes.Handle()) ==
             ERROR_SUCCESS;
}

struct Step {
  installer::ProductEnvironment* environment;
  std::wstring association;
  bool all_users;
};

base::ValueOwner Boolean(bool value) {
  return base::MakeBooleanValue(value);
}

// The command the shell finds for the association.
base::ValueOwner ShellCommand(const Step& step) {
  wchar_t command[2048] = {};
  DWORD length = static_cast<DWORD>(std::size(command));
  const bool found =
      AssocQueryStringW(ASSOCF_NONE, ASSOCSTR_COMMAND, step.association.c_str(),
                        L"open", command, &length) == S_OK;
  return found ? MakeValue<base::Value>(command) : MakeValue<base::Value>();
}

base::ValueOwner CreateVolatileKey(const Step& step) {
  HKEY key = nullptr;
  const LONG result = RegCreateKeyExW(
      HKEY_CURRENT_USER, step.association.c_str(), 0, nullptr,
      REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (result == ERROR_SUCCESS)
    RegCloseKey(key);
  return Boolean(result == ERROR_SUCCESS);
}

using StepFunction = base::ValueOwner (*)(const Step& step);

const struct {
  const char* name;
  StepFunction run;
} kSteps[] = {
    {"MakeDefaultBrowser",
     [](const Step& s) {
       return Boolean(s.environment->MakeDefaultBrowser(s.all_users));
     }},
    {"RegisterAssociations",
     [](const Step& s) {
       return Boolean(s.environment->RegisterAssociations(s.all_users));
     }},
    {"MakeDefaultForAssociation",
     [](const Step& s) {
       return Boolean(s.environment->MakeDefaultForAssociation(s.association,
                                                               s.all_users));
     }},
    {"IsDefaultBrowser",
     [](const Step& s) { return Boolean(s.environment->IsDefaultBrowser()); }},
    {"IsDefaultStartMenuClient",
     [](const Step& s) {
       return Boolean(s.environment->IsDefaultStartMenuClient());
     }},
    {"IsAssociationOurs",
     [](const Step& s) {
       return Boolean(s.environment->IsAssociationOurs(s.association, false));
     }},
    {"ShellCommand", ShellCommand},
    {"CreateVolatileKey", CreateVolatileKey},
};

// Null for a step that is not known.
base::ValueOwner RunStep(const base::Value& description,
                         installer::ProductEnvironment* environment) {
  const base::DictionaryValue* step = nullptr;
  std::string call;
  if (!description.GetAsDictionary(&step) || !step->GetString("call", &call))
    return nullptr;
  Step arguments = {environment, std::wstring(), false};
  step->GetWideString("association", &arguments.association);
  step->GetBoolean("all_users", &arguments.all_users);
  for (const auto& known : kSteps) {
    if (call == known.name)
      return known.run(arguments);
  }
  return nullptr;
}

void PrintJson(const base::Value& answer) {
  std::string output;
  base::WriteJson(answer, &output);
  _setmode(_fileno(stdout), _O_BINARY);
  std::fwrite(output.data(), 1, output.size(), stdout);
}

// Says why the tool gives up, so that a failing test shows the cause.
int Refuse(const char* why) {
  std::fprintf(stderr, "registry_table_tool: %s (error %lu)\n", why,
               ::GetLastError());
  return 2;
}

int RunAssociations(const base::CommandLine& switches) {
  std::string json;
  if (!base::ReadFileToString(switches.GetSwitchValuePath("associations"),
                              &json)) {
    return Refuse("cannot read the steps");
  }
  base::ValueOwner script = base::ReadJson(json);
  const base::ListValue* steps = nullptr;
  AssociationRoots roots;
  if (!script || !script->GetAsList(&steps))
    return Refuse("the steps are not a JSON list");
  if (!RedirectAssociationRoots(switches.GetSwitchValueNative("redirect"),
                                switches.HasSwitch("machine-classes"),
                                &roots)) {
    return Refuse("cannot redirect the registry roots");
  }
  installer::InstallLog install_log;
  install_log.all_users = switches.HasSwitch("all-users-installation");
  installer::FolderProductEnvironment environment(
      switches.GetSwitchValuePath("install-dir"), install_log);
  // The version is the running system's: Wine's, as the test sets it.
  installer::test::RecordingAssociationShell shell(
      base::win::GetWindowsVersion());
  environment.SetAssociationShellForTesting(&shell);

  auto results = MakeValue<ListValue>();
  for (size_t index = 0; index < steps->GetSize(); ++index) {
    const base::Value* step = nullptr;
    steps->Get(index, &step);
    base::ValueOwner result = RunStep(*step, &environment);
    if (!result)
      return Refuse("a step is not understood");
    results->Append(std::move(result));
  }
  auto calls = MakeValue<ListValue>();
  for (const std::wstring& call : shell.calls())
    calls->AppendString(base::WideToUtf8(call));

  DictionaryValue answer;
  answer.SetByKey("windows_version",
                  MakeValue<base::Value>(
                      static_cast<int32_t>(base::win::GetWindowsVersion())));
  answer.SetByKey("results", std::move(results));
  answer.SetByKey("shell_calls", std::move(calls));
  PrintJson(answer);
  return 0;
}

int WriteInstallation(const base::CommandLine& switches) {
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
  answer.SetByKey("windows_version",
                  MakeValue<base::Value>(
                      static_cast<int32_t>(base::win::GetWindowsVersion())));
  answer.SetByKey("channel", MakeValue<base::Value>(base::GetReleaseChannel()));
  answer.SetByKey("operations", MakeValue<base::Value>(operations));
  answer.SetByKey("registry", RecordList(*resolver.GetRegistryRecord(root)));
  PrintJson(answer);
  return ok ? 0 : 1;
}

}  // namespace

int main() {
  base::CommandLine::Init();
  const base::CommandLine& switches = *base::CommandLine::ForCurrentProcess();
  if (switches.HasSwitch("associations"))
    return RunAssociations(switches);
  return WriteInstallation(switches);
}
