// Deleting a registry tree of 10,000 keys (two values each) with a
// DeleteRegKeyOperation and rolling it back, against RegDeleteTreeW and
// making the same tree with RegCreateKeyExW/RegSetValueExW. Each figure is
// the best of three rounds, in keys per second. The tree lives under
// Software\TarvoBench\<GUID> of HKEY_CURRENT_USER, and of
// HKEY_LOCAL_MACHINE for the 32-bit view, and is gone afterwards.
//   registry_operations_bench

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/rand_util.h"
#include "base/strings/utf_string_conversions.h"
#include "bench/bench_harness.h"
#include "desktop/windows/installer/transactions/delete_reg_key_operation.h"
#include "desktop/windows/installer/transactions/transaction.h"

namespace {

constexpr int kBranches = 100;
constexpr int kLeavesPerBranch = 99;
constexpr int kSmokeBranches = 3;
constexpr int kRounds = 3;

int Branches() {
  return bench::SmokeOr(kBranches, kSmokeBranches);
}

int LeavesPerBranch() {
  return bench::SmokeOr(kLeavesPerBranch, kSmokeBranches);
}

int KeyCount() {
  return 1 + Branches() + Branches() * LeavesPerBranch();
}

struct Place {
  const char* name;
  HKEY root;
  REGSAM view;
};

bool WriteKey(HKEY parent, const std::wstring& name, REGSAM view, HKEY* key) {
  if (::RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS | view, nullptr, key,
                        nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD number = 42;
  const wchar_t text[] = L"C:\\Program Files\\Tarvo\\Application\\tarvo.exe";
  return ::RegSetValueExW(*key, L"Path", 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text),
                          sizeof(text)) == ERROR_SUCCESS &&
         ::RegSetValueExW(*key, L"Number", 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&number),
                          sizeof(number)) == ERROR_SUCCESS;
}

bool MakeTree(const Place& place, const std::wstring& path) {
  HKEY top = nullptr;
  bool ok = WriteKey(place.root, path, place.view, &top);
  for (int branch = 0; ok && branch < Branches(); ++branch) {
    HKEY middle = nullptr;
    ok =
        WriteKey(top, L"branch" + std::to_wstring(branch), place.view, &middle);
    for (int leaf = 0; ok && leaf < LeavesPerBranch(); ++leaf) {
      HKEY bottom = nullptr;
      ok = WriteKey(middle, L"leaf" + std::to_wstring(leaf), place.view,
                    &bottom);
      if (bottom)
        ::RegCloseKey(bottom);
    }
    if (middle)
      ::RegCloseKey(middle);
  }
  if (top)
    ::RegCloseKey(top);
  return ok;
}

// Every key of the tree is there with its two values.
bool TreeIsWhole(const Place& place, const std::wstring& path) {
  int keys = 0;
  bool ok = true;
  std::function<void(const std::wstring&)> count =
      [&](const std::wstring& key_path) {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(place.root, key_path.c_str(), 0,
                            KEY_READ | place.view, &key) != ERROR_SUCCESS) {
          ok = false;
          return;
        }
        DWORD subkeys = 0;
        DWORD values = 0;
        ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr,
                           nullptr, &values, nullptr, nullptr, nullptr,
                           nullptr);
        ++keys;
        ok &= values == 2;
        for (DWORD index = 0; index < subkeys; ++index) {
          wchar_t name[256];
          DWORD length = 256;
          if (::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr,
                              nullptr, nullptr) == ERROR_SUCCESS) {
            count(key_path + L"\\" + std::wstring(name, length));
          }
        }
        ::RegCloseKey(key);
      };
  count(path);
  return ok && keys == KeyCount();
}

double Seconds(const std::function<bool()>& body, bool* ok) {
  const auto start = std::chrono::steady_clock::now();
  *ok &= body();
  const std::chrono::duration<double> elapsed =
      std::chrono::steady_clock::now() - start;
  return elapsed.count();
}

bool RunPlace(const Place& place) {
  const std::wstring base_path =
      L"Software\\TarvoBench\\" + base::Utf8ToWide(base::GenerateGuidText());
  const std::wstring tree = base_path + L"\\Tree";
  double make = 1e300, delete_tree = 1e300, do_delete = 1e300, rollback = 1e300;
  bool ok = true;
  for (int round = 0; round < bench::SmokeOr(kRounds, 1); ++round) {
    make = std::min(make, Seconds([&] { return MakeTree(place, tree); }, &ok));
    delete_tree =
        std::min(delete_tree,
                 Seconds(
                     [&] {
                       HKEY parent = nullptr;
                       ::RegOpenKeyExW(place.root, base_path.c_str(), 0,
                                       KEY_ALL_ACCESS | place.view, &parent);
                       const bool deleted =
                           ::RegDeleteTreeW(parent, L"Tree") == ERROR_SUCCESS;
                       ::RegCloseKey(parent);
                       return deleted;
                     },
                     &ok));

    ok &= MakeTree(place, tree);
    installer::Transaction transaction;
    do_delete = std::min(
        do_delete, Seconds(
                       [&] {
                         return transaction.ExecuteOperation(
                             std::make_unique<installer::DeleteRegKeyOperation>(
                                 place.root, tree, place.view));
                       },
                       &ok));
    rollback = std::min(rollback, Seconds(
                                      [&] {
                                        transaction.RollbackOperations();
                                        return true;
                                      },
                                      &ok));
    ok &= TreeIsWhole(place, tree);
    HKEY parent = nullptr;
    ::RegOpenKeyExW(place.root, base_path.c_str(), 0,
                    KEY_ALL_ACCESS | place.view, &parent);
    ::RegDeleteTreeW(parent, L"Tree");
    ::RegCloseKey(parent);
  }
  ::RegDeleteKeyExW(place.root, base_path.c_str(), place.view, 0);
  ::RegDeleteKeyExW(place.root, L"Software\\TarvoBench", place.view, 0);

  const std::string name = place.name;
  const double keys = KeyCount();
  bench::Report(name + ": DeleteRegKeyOperation::Do", keys / do_delete,
                "keys/s");
  bench::Report(name + ": rollback", keys / rollback, "keys/s");
  bench::Report(name + ": RegDeleteTreeW", keys / delete_tree, "keys/s");
  bench::Report(name + ": make with RegCreateKeyExW", keys / make, "keys/s");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  bench::ReadArguments(argc, argv);
  const Place places[] = {
      {"HKCU, default view", HKEY_CURRENT_USER, 0},
      {"HKLM, 32-bit view", HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY},
  };
  bool ok = true;
  for (const Place& place : places)
    ok &= RunPlace(place);
  if (!ok)
    std::printf("a run failed\n");
  return ok ? 0 : 1;
}
