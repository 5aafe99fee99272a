// Drives the autoupdate global storage for the tests, and holds its mutex as
// a second process would.
//   global_storage_tool --mutex=NAME --dir=DIR [--copy-only] --write=FILE
//       writes each name and value of the JSON object in FILE (in name
//       order), after pointing the storage at DIR; prints {"results":
//       {name: result}}
//   global_storage_tool --mutex=NAME --dir=DIR [--copy-only] --read=FILE
//       reads each name of the JSON list in FILE; prints {"results":
//       {name: result}, "values": {name: value}}
// Without --copy-only the storage works on the registry, and the current
// user's root is a scratch key that lives as long as the tool.
//   global_storage_tool --hold --mutex=NAME --ready=EVENT --release=EVENT
//       [--dacl=SDDL] [--take] [--abandon]
//       creates the mutex (with the access list SDDL when given), takes it
//       with --take, signals the event READY, then waits for RELEASE; with
//       --abandon it ends holding the mutex instead.
// Exit status 0, or 2 on bad arguments.

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <cstdio>
#include <memory>
#include <string>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/strings/string_number_conversions.h"
#include "base/test/scoped_registry_override.h"
#include "base/values.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/common/autoupdate/updatechecker/global_storage_impl.h"

namespace {

using base::DictionaryValue;
using base::MakeValue;

void PrintJson(const base::Value& value) {
  std::string json;
  base::WriteJson(value, &json);
  _setmode(_fileno(stdout), _O_BINARY);
  std::fwrite(json.data(), 1, json.size(), stdout);
}

base::ValueOwner ReadJsonFile(const base::FilePath& path) {
  std::string json;
  if (!base::ReadFileToString(path, &json))
    return nullptr;
  return base::ReadJson(json);
}

int Hold(const base::CommandLine& switches) {
  base::win::ScopedLocalAlloc<> descriptor;
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
  const std::wstring sddl = switches.GetSwitchValueNative("dacl");
  if (!sddl.empty()) {
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl.c_str(), SDDL_REVISION_1, &raw, nullptr)) {
      return 2;
    }
    descriptor.Reset(raw);
    attributes.lpSecurityDescriptor = raw;
  }
  base::win::ScopedHandle mutex(::CreateMutexW(
      &attributes, FALSE, switches.GetSwitchValueNative("mutex").c_str()));
  base::win::ScopedHandle ready(
      ::OpenEventW(EVENT_MODIFY_STATE, FALSE,
                   switches.GetSwitchValueNative("ready").c_str()));
  base::win::ScopedHandle release(::OpenEventW(
      SYNCHRONIZE, FALSE, switches.GetSwitchValueNative("release").c_str()));
  if (!mutex.IsValid() || !ready.IsValid() || !release.IsValid())
    return 2;
  const bool take = switches.HasSwitch("take") || switches.HasSwitch("abandon");
  if (take && ::WaitForSingleObject(mutex.Get(), INFINITE) != WAIT_OBJECT_0)
    return 2;
  ::SetEvent(ready.Get());
  if (switches.HasSwitch("abandon"))
    return 0;  // Ends holding the mutex, which abandons it.
  ::WaitForSingleObject(release.Get(), INFINITE);
  if (take)
    ::ReleaseMutex(mutex.Get());
  return 0;
}

int Run(const base::CommandLine& switches) {
  // Only the registry mode needs it; the fallback mode must not touch it.
  std::unique_ptr<base::win::ScopedRegistryOverride> registry;
  const bool copy_only = switches.HasSwitch("copy-only");
  if (!copy_only) {
    registry =
        std::make_unique<base::win::ScopedRegistryOverride>(HKEY_CURRENT_USER);
    if (!registry->Valid())
      return 2;
  }
  installer::GlobalStorageImpl storage(
      switches.GetSwitchValueNative("mutex").c_str());
  storage.Initialize(copy_only);
  storage.SetFallbackDirectory(switches.GetSwitchValuePath("dir"));

  auto results = MakeValue<DictionaryValue>();
  auto values = MakeValue<DictionaryValue>();
  if (switches.HasSwitch("write")) {
    base::ValueOwner pairs = ReadJsonFile(switches.GetSwitchValuePath("write"));
    const DictionaryValue* dictionary = nullptr;
    if (!pairs || !pairs->GetAsDictionary(&dictionary))
      return 2;
    for (DictionaryValue::Iterator pair(*dictionary); !pair.IsAtEnd();
         pair.Advance()) {
      std::string value;
      if (!pair.value().GetAsString(&value))
        return 2;
      results->SetByKey(
          pair.key(), MakeValue<base::Value>(storage.Write(pair.key(), value)));
    }
  } else {
    base::ValueOwner names = ReadJsonFile(switches.GetSwitchValuePath("read"));
    const base::ListValue* list = nullptr;
    if (!names || !names->GetAsList(&list))
      return 2;
    for (size_t i = 0; i < list->GetSize(); ++i) {
      const base::Value* item = nullptr;
      std::string name;
      if (!list->Get(i, &item) || !item->GetAsString(&name))
        return 2;
      std::string value;
      results->SetByKey(name,
                        MakeValue<base::Value>(storage.Read(name, &value)));
      values->SetStringByKey(name, value);
    }
  }
  DictionaryValue answer;
  answer.SetByKey("results", std::move(results));
  answer.SetByKey("values", std::move(values));
  PrintJson(answer);
  return 0;
}

}  // namespace

int main() {
  base::CommandLine::Init();
  const base::CommandLine& switches = *base::CommandLine::ForCurrentProcess();
  if (switches.GetSwitchValueNative("mutex").empty())
    return 2;
  return switches.HasSwitch("hold") ? Hold(switches) : Run(switches);
}
