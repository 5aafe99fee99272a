#include "desktop/windows/crash_reporter/crash_key_store.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <memory>

#include "base/command_line.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/crash_reporter/crash_key_table.h"
#include "desktop/windows/crash_reporter/crash_reporting_config.h"

namespace installer {

namespace {

constexpr wchar_t kPlatform[] = L"Win32";
constexpr wchar_t kSpareEntryName[] = L"unspecified-crash-key";
constexpr char kPluginPathSwitch[] = "plugin-path";
constexpr char kNoErrorDialogsSwitch[] = "noerrdialogs";
// Only the end of a long plug-in path is kept: it names the plug-in.
constexpr size_t kMaxPluginPathLength = 256;

constexpr uint64_t kFnvOffsetBasis = 14695981039346656037ull;
constexpr uint64_t kFnvPrime = 1099511628211ull;

CrashKeyStore* g_store = nullptr;

void CopyIntoEntryText(const std::wstring& text, wchar_t* destination) {
  const size_t length = std::min(text.size(), DumpInfoEntry::kMaxTextLength);
  std::wmemcpy(destination, text.data(), length);
  destination[length] = L'\0';
}

std::wstring ExecutablePath() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return std::wstring();
  return std::wstring(path, length);
}

}  // namespace

// static
CrashKeyStore* CrashKeyStore::InitCrashReportingClient(
    const std::wstring& process_type) {
  // Never destroyed: the crash reporter may read the entries until the
  // process is gone.
  g_store =
      std::make_unique<CrashKeyStore>(process_type, *GetCrashReportingConfig(),
                                      *base::CommandLine::ForCurrentProcess())
          .release();
  return g_store;
}

// static
CrashKeyStore* CrashKeyStore::Get() {
  return g_store;
}

CrashKeyStore::CrashKeyStore(const std::wstring& process_type,
                             const CrashClientSettings& settings,
                             const base::CommandLine& command_line) {
  AppendFixedEntries(process_type, settings, command_line);
  next_free_entry_ = entries_.size();
  for (size_t i = 0; i < kSpareEntryCount; ++i)
    AppendEntry(kSpareEntryName, std::wstring());
  // Announced only now: the array never grows after this.
  custom_info_.entries = entries_.data();
  custom_info_.count = entries_.size();
  BuildAllowedKeys();
}

CrashKeyStore::~CrashKeyStore() = default;

void CrashKeyStore::SetCrashKeyIfAllowed(base::StringSlice key,
                                         base::StringSlice value) {
  if (!allowed_keys_.contains(key.AsString()))
    return;
  SetDumpInfoValue(base::Utf8ToWide(key), base::Utf8ToWide(value));
}

void CrashKeyStore::ClearCrashKeyEntry(base::StringSlice key) {
  ClearDumpInfoValue(base::Utf8ToWide(key));
}

void CrashKeyStore::SetDumpInfoValue(const std::wstring& name,
                                     const std::wstring& value) {
  const std::wstring short_name = name.substr(0, DumpInfoEntry::kMaxTextLength);
  base::AutoLock hold(lock_);
  auto found = key_entries_.find(short_name);
  DumpInfoEntry* entry = nullptr;
  if (found != key_entries_.end()) {
    entry = found->second;
  } else {
    if (key_entries_.size() >= kSpareEntryCount)
      return;
    entry = &entries_[next_free_entry_++];
    key_entries_.emplace(short_name, entry);
  }
  CopyIntoEntryText(short_name, entry->name);
  CopyIntoEntryText(value, entry->value);
}

void CrashKeyStore::ClearDumpInfoValue(const std::wstring& name) {
  base::AutoLock hold(lock_);
  auto found = key_entries_.find(name.substr(0, DumpInfoEntry::kMaxTextLength));
  if (found != key_entries_.end())
    found->second->value[0] = L'\0';
}

size_t CrashKeyStore::NameHash::operator()(const std::string& name) const {
  uint64_t hash = kFnvOffsetBasis;
  for (const char c : name) {
    hash ^= static_cast<uint8_t>(c);
    hash *= kFnvPrime;
  }
  return static_cast<size_t>(hash);
}

void CrashKeyStore::AppendFixedEntries(const std::wstring& process_type,
                                       const CrashClientSettings& settings,
                                       const base::CommandLine& command_line) {
  std::wstring product, version, special, channel;
  settings.GetProductInfo(ExecutablePath(), &product, &version, &special,
                          &channel);
  AppendEntry(L"ver", version);
  AppendEntry(L"prod", product);
  AppendEntry(L"plat", kPlatform);
  AppendEntry(L"ptype", process_type);
  AppendEntry(L"pid", base::UintToString16(::GetCurrentProcessId()));
  AppendEntry(L"channel", channel);
  AppendEntry(L"profile-type", std::wstring());
  if (!special.empty())
    AppendEntry(L"special", special);

  if (process_type == L"plugin" || process_type == L"plugin-host") {
    const std::wstring plugin_path =
        command_line.GetSwitchValueNative(kPluginPathSwitch);
    if (!plugin_path.empty())
      AddPluginPathChunks(plugin_path);
  }

  if (settings.SkipsDumpLocation())
    return;
  if (!command_line.HasSwitch(kNoErrorDialogsSwitch) &&
      !settings.ReportsDumpLocation()) {
    return;
  }
  std::wstring location;
  if (settings.GetDumpLocationText(&location))
    AppendEntry(L"crash-dump-location", location);
}

void CrashKeyStore::AppendEntry(const std::wstring& name,
                                const std::wstring& value) {
  DumpInfoEntry entry;
  CopyIntoEntryText(name, entry.name);
  CopyIntoEntryText(value, entry.value);
  entries_.push_back(entry);
}

void CrashKeyStore::AddPluginPathChunks(const std::wstring& path) {
  const std::wstring kept =
      path.size() > kMaxPluginPathLength
          ? path.substr(path.size() - kMaxPluginPathLength)
          : path;
  int number = 1;
  for (size_t offset = 0; offset < kept.size();
       offset += DumpInfoEntry::kMaxTextLength) {
    AppendEntry(L"plugin-path-chunk-" + base::IntToString16(number++),
                kept.substr(offset, DumpInfoEntry::kMaxTextLength));
  }
}

void CrashKeyStore::BuildAllowedKeys() {
  for (size_t i = 0; i < kInstallerCrashKeyCount; ++i) {
    const base::CrashKeyRegistration& row = kCrashKeyTable[i];
    if (row.max_length <= kCrashKeyChunkLength) {
      allowed_keys_.insert(row.name);
      continue;
    }
    const size_t chunks =
        (row.max_length + kCrashKeyChunkLength - 1) / kCrashKeyChunkLength;
    for (size_t number = 1; number <= chunks; ++number)
      allowed_keys_.insert(std::string(row.name) + "-" +
                           base::Uint64ToString(number));
  }
}

}  // namespace installer
