#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_KEY_STORE_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_KEY_STORE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/strings/string_slice.h"
#include "base/threading/lock.h"
#include "desktop/windows/crash_reporter/custom_info.h"

namespace base {
class CommandLine;
}

namespace installer {

class CrashClientSettings;

// The crash keys of this process as a fixed array of entries that never
// moves, so that the crash reporter can read it out of this process's memory
// at any time. A few fixed entries describe the process; crash keys take
// the spare entries after them, one each, in the order they are first set.
class CrashKeyStore {
 public:
  static constexpr size_t kSpareEntryCount = 256;

  // Builds the process-wide store for `process_type` and publishes it.
  static CrashKeyStore* InitCrashReportingClient(
      const std::wstring& process_type);
  // The process-wide store; null before InitCrashReportingClient.
  static CrashKeyStore* Get();

  // A store of its own, not published.
  CrashKeyStore(const std::wstring& process_type,
                const CrashClientSettings& settings,
                const base::CommandLine& command_line);
  CrashKeyStore(const CrashKeyStore&) = delete;
  CrashKeyStore& operator=(const CrashKeyStore&) = delete;
  ~CrashKeyStore();

  // UTF-8 key and value; ignored unless the key is one an installer process
  // reports. Any thread.
  void SetCrashKeyIfAllowed(base::StringSlice key, base::StringSlice value);
  void ClearCrashKeyEntry(base::StringSlice key);

  // Both texts are cut to what an entry holds. A new name takes a spare
  // entry; when none is left the value is dropped. Any thread.
  void SetDumpInfoValue(const std::wstring& name, const std::wstring& value);
  // The entry keeps its name with an empty value.
  void ClearDumpInfoValue(const std::wstring& name);

  // The entries as announced to the crash reporter.
  const CustomInfoBlock& custom_info() const { return custom_info_; }

 private:
  // FNV-1a over the name's bytes.
  struct NameHash {
    size_t operator()(const std::string& name) const;
  };

  void AppendFixedEntries(const std::wstring& process_type,
                          const CrashClientSettings& settings,
                          const base::CommandLine& command_line);
  void AppendEntry(const std::wstring& name, const std::wstring& value);
  void AddPluginPathChunks(const std::wstring& path);
  void BuildAllowedKeys();

  std::vector<DumpInfoEntry> entries_;
  base::Lock lock_;
  size_t next_free_entry_ = 0;
  std::unordered_map<std::wstring, DumpInfoEntry*> key_entries_;
  CustomInfoBlock custom_info_;
  std::unordered_set<std::string, NameHash> allowed_keys_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_KEY_STORE_H_
