// Keeps preference files through the JSON preferences store, so that the
// end-to-end tests can check its files against another JSON implementation.
// Each file gets a store of its own, one after the other.
//   prefs_tool dump <file>...  reads each file; prints "read <code>
//                              <read-only>" and a line with the store's
//                              values as JSON
//   prefs_tool set <file>...   reads each file and applies the changes on
//                              stdin, {"set": {<dotted key>: <value>, ...},
//                              "remove": [<dotted key>, ...]}; prints "read
//                              <code> <read-only> changes <count>"
// Returns once every store's write is on disk. Exit code 0, or 2 for a
// usage error.

#include <fcntl.h>
#include <io.h>

#include <iostream>
#include <iterator>
#include <string>

#include "base/command_line.h"
#include "base/exit_callback_stack.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/message_loop/message_loop.h"
#include "base/threading/prefs_task_pool.h"
#include "components/prefs/json_pref_store.h"

namespace {

class ChangeCounter : public base::PrefStoreObserver {
 public:
  void OnPrefChanged(base::StringSlice) override { ++changes; }
  void OnPrefsLoaded(bool) override {}

  int changes = 0;
};

std::string ReadHeader(const base::JsonPrefStore& store) {
  return "read " + std::to_string(store.GetReadResult()) + " " +
         (store.IsReadOnly() ? "1" : "0");
}

void Dump(base::JsonPrefStore& store) {
  std::string json;
  base::WriteJson(*store.CopyValues(), &json);
  std::cout << ReadHeader(store) << "\n" << json << "\n";
}

void ApplyChanges(base::JsonPrefStore& store,
                  const base::DictionaryValue& changes) {
  ChangeCounter counter;
  store.AddObserver(&counter);
  const base::Value* section = nullptr;
  const base::DictionaryValue* to_set = nullptr;
  if (changes.GetByKey("set", &section) && section->GetAsDictionary(&to_set)) {
    for (base::DictionaryValue::Iterator it(*to_set); !it.IsAtEnd();
         it.Advance()) {
      store.SetValue(it.key(), it.value().DeepCopyOwned(), 0);
    }
  }
  const base::ListValue* to_remove = nullptr;
  if (changes.GetByKey("remove", &section) &&
      section->GetAsList(&to_remove)) {
    for (size_t i = 0; i < to_remove->GetSize(); ++i) {
      const base::Value* key = nullptr;
      std::string text;
      if (to_remove->Get(i, &key) && key->GetAsString(&text))
        store.RemoveValue(text, 0);
    }
  }
  store.RemoveObserver(&counter);
  std::cout << ReadHeader(store) << " changes " << counter.changes << "\n";
}

}  // namespace

int main() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  // As in the installer: at exit the pool is shut down, and waits until
  // every store has let go of its sequence, so the last write completes.
  base::ExitCallbackStack exit_callbacks;
  base::GetPrefsTaskPool()->set_wait_for_last_reference(true);
  base::CommandLine::Init();
  const auto& argv = base::CommandLine::ForCurrentProcess()->argv();
  if (argv.size() < 3)
    return 2;
  const std::wstring& mode = argv[1];
  base::DictionaryValueOwner changes;
  if (mode == L"set") {
    const std::string input((std::istreambuf_iterator<char>(std::cin)),
                            std::istreambuf_iterator<char>());
    changes = base::DictionaryValue::From(base::ReadJson(input));
    if (!changes)
      return 2;
  } else if (mode != L"dump") {
    return 2;
  }

  base::MessageLoop loop;
  for (size_t i = 2; i < argv.size(); ++i) {
    base::RefPtr<base::JsonPrefStore> store = base::CreateFilePrefStore(
        base::GetPrefsTaskPool(), base::FilePath(argv[i]));
    if (changes)
      ApplyChanges(*store, *changes);
    else
      Dump(*store);
  }
  return 0;
}
