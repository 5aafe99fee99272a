// Runs registry operations in one transaction for the end-to-end tests,
// which compare `reg export` snapshots of their own keys around it.
//
//   registry_operations_tool run [--fail] [--rollback] <operation>...
//       operations, each a word and its arguments:
//         create <root> <view> <key>
//         delete <root> <view> <key>
//         set <root> <view> <key> <name> <type> <hex data>
//         remove <root> <view> <key> <name>
//       root HKCU or HKLM; view 0, 32 or 64; name "@" is the default value.
//       Prints "<word> 1" or "<word> 0" per operation, then "rollback" when
//       an operation failed, --fail added one that fails, or --rollback asks
//       for it (the transaction is rolled back), else "commit" (destroyed).
//   registry_operations_tool sddl <root> <view> <key>
//       prints the key's group and access list as SDDL: what a deleted key
//       gets back (its creator owns a recreated key).
//   registry_operations_tool set-sddl <root> <view> <key> <sddl>
//   registry_operations_tool purge <root> <view> <key>
//       deletes the key and its subtree whatever their lists say, then its
//       parent when nothing else is left in it.
//   registry_operations_tool hold
//       waits until its standard input ends: Wine keeps key security only
//       while its server runs, which this keeps alive between the steps.
// Exit code 0, or 2 for a command line it does not understand.

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/test/scoped_test_key.h"
#include "desktop/windows/installer/transactions/change_reg_value_operation.h"
#include "desktop/windows/installer/transactions/create_reg_key_operation.h"
#include "desktop/windows/installer/transactions/delete_reg_key_operation.h"
#include "desktop/windows/installer/transactions/transaction.h"

namespace {

constexpr int kUsageError = 2;
constexpr SECURITY_INFORMATION kGroupAndDacl =
    GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// Stands for the step of an installation that fails after the others.
class FailingOperation : public installer::Operation {
 public:
  bool Do(installer::Transaction*) override { return false; }
  void Rollback() override {}
};

struct KeyArguments {
  HKEY root = nullptr;
  REGSAM view = 0;
  std::wstring path;
};

class Arguments {
 public:
  explicit Arguments(std::vector<std::wstring> words)
      : words_(std::move(words)) {}

  bool Done() const { return next_ >= words_.size(); }
  bool Take(std::wstring* word) {
    if (Done())
      return false;
    *word = words_[next_++];
    return true;
  }
  bool TakeKey(KeyArguments* key) {
    std::wstring root;
    std::wstring view;
    if (!Take(&root) || !Take(&view) || !Take(&key->path))
      return false;
    if (root == L"HKCU")
      key->root = HKEY_CURRENT_USER;
    else if (root == L"HKLM")
      key->root = HKEY_LOCAL_MACHINE;
    else
      return false;
    if (view == L"32")
      key->view = KEY_WOW64_32KEY;
    else if (view == L"64")
      key->view = KEY_WOW64_64KEY;
    else if (view != L"0")
      return false;
    return true;
  }

 private:
  std::vector<std::wstring> words_;
  size_t next_ = 0;
};

bool ParseHex(const std::wstring& text, std::vector<uint8_t>* bytes) {
  if (text.size() % 2 != 0)
    return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    wchar_t* end = nullptr;
    const std::wstring pair = text.substr(i, 2);
    const unsigned long value = wcstoul(pair.c_str(), &end, 16);
    if (*end != L'\0')
      return false;
    bytes->push_back(static_cast<uint8_t>(value));
  }
  return true;
}

std::unique_ptr<installer::Operation> TakeOperation(const std::wstring& word,
                                                    Arguments* arguments) {
  KeyArguments key;
  if (!arguments->TakeKey(&key))
    return nullptr;
  if (word == L"create") {
    return std::make_unique<installer::CreateRegKeyOperation>(
        key.root, key.path, key.view);
  }
  if (word == L"delete") {
    return std::make_unique<installer::DeleteRegKeyOperation>(
        key.root, key.path, key.view);
  }
  std::wstring name;
  if (!arguments->Take(&name))
    return nullptr;
  if (name == L"@")
    name.clear();
  if (word == L"remove") {
    return installer::MakeChangeRegValueOperation(
        key.root, key.path, name, nullptr, 0, REG_NONE, 0, key.view);
  }
  std::wstring type;
  std::wstring hex;
  std::vector<uint8_t> data;
  if (word != L"set" || !arguments->Take(&type) || !arguments->Take(&hex) ||
      !ParseHex(hex, &data)) {
    return nullptr;
  }
  return std::make_unique<installer::ChangeRegValueOperation>(
      key.root, key.path, name, data.data(),
      static_cast<DWORD>(wcstoul(type.c_str(), nullptr, 0)),
      static_cast<DWORD>(data.size()), key.view);
}

int Run(Arguments* arguments) {
  bool fail = false;
  bool rollback = false;
  installer::Transaction transaction;
  std::wstring word;
  while (arguments->Take(&word)) {
    if (word == L"--fail") {
      fail = true;
      continue;
    }
    if (word == L"--rollback") {
      rollback = true;
      continue;
    }
    std::unique_ptr<installer::Operation> operation =
        TakeOperation(word, arguments);
    if (!operation)
      return kUsageError;
    const bool done = transaction.ExecuteOperation(std::move(operation));
    printf("%s %d\n", base::WideToUtf8(word).c_str(), done ? 1 : 0);
    rollback |= !done;
  }
  if (fail) {
    // Fails by design: the rollback below is what is tested.
    std::ignore =
        transaction.ExecuteOperation(std::make_unique<FailingOperation>());
    rollback = true;
  }
  if (rollback)
    transaction.RollbackOperations();
  printf("%s\n", rollback ? "rollback" : "commit");
  return 0;
}

}  // namespace

int main() {
  int count = 0;
  const base::win::ScopedLocalAlloc<wchar_t*> raw_words(
      ::CommandLineToArgvW(::GetCommandLineW(), &count));
  if (!raw_words)
    return 2;
  std::vector<std::wstring> words(raw_words.Get() + (count > 0 ? 1 : 0),
                                  raw_words.Get() + count);
  Arguments arguments(std::move(words));
  std::wstring command;
  if (!arguments.Take(&command))
    return kUsageError;
  if (command == L"run")
    return Run(&arguments);
  if (command == L"hold") {
    while (getchar() != EOF) {
    }
    return 0;
  }

  KeyArguments key;
  if (!arguments.TakeKey(&key))
    return kUsageError;
  if (command == L"sddl") {
    printf("%s\n",
           base::WideToUtf8(installer::test::KeySddl(key.root, key.path,
                                                     key.view, kGroupAndDacl))
               .c_str());
    return 0;
  }
  if (command == L"purge") {
    installer::test::PurgeKey(key.root, key.path, key.view);
    const size_t separator = key.path.rfind(L'\\');
    if (separator != std::wstring::npos) {
      // Refused while the parent still has subkeys.
      ::RegDeleteKeyExW(key.root, key.path.substr(0, separator).c_str(),
                        key.view, 0);
    }
    return 0;
  }
  std::wstring sddl;
  if (command == L"set-sddl" && arguments.Take(&sddl)) {
    const bool set =
        installer::test::SetKeySddl(key.root, key.path, key.view, sddl);
    printf("%s\n", set ? "set" : "failed");
    return 0;
  }
  return kUsageError;
}
