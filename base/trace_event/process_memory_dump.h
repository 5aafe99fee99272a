#ifndef BASE_TRACE_EVENT_PROCESS_MEMORY_DUMP_H_
#define BASE_TRACE_EVENT_PROCESS_MEMORY_DUMP_H_

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/strings/string_slice.h"
#include "base/trace_event/memory_allocator_dump.h"

namespace base {

// Dump levels of detail.
inline constexpr int kDumpLevelBackground = 0;
inline constexpr int kDumpLevelLight = 1;
inline constexpr int kDumpLevelDetailed = 2;

// What one process holds, as the allocator dumps its providers add. Filled
// by one thread at a time.
class ProcessMemoryDump {
 public:
  explicit ProcessMemoryDump(int level_of_detail);
  ProcessMemoryDump(const ProcessMemoryDump&) = delete;
  ProcessMemoryDump& operator=(const ProcessMemoryDump&) = delete;
  ~ProcessMemoryDump();

  // The dump to fill in: `dump` itself, or the one of its name added
  // earlier. In a background dump a name off the whitelist gets the
  // discarded dump instead, whose values are never reported.
  MemoryAllocatorDump* AddAllocatorDump(
      std::unique_ptr<MemoryAllocatorDump> dump);
  MemoryAllocatorDump* GetDiscardedDump();

  // Null when absent.
  MemoryAllocatorDump* GetAllocatorDump(StringSlice absolute_name) const;
  // In the order they were added.
  const std::vector<std::unique_ptr<MemoryAllocatorDump>>& allocator_dumps()
      const {
    return dumps_;
  }
  int level_of_detail() const { return level_of_detail_; }

 private:
  const int level_of_detail_;
  std::vector<std::unique_ptr<MemoryAllocatorDump>> dumps_;
  std::map<std::string, MemoryAllocatorDump*, std::less<>> dumps_by_name_;
  std::unique_ptr<MemoryAllocatorDump> discarded_;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_PROCESS_MEMORY_DUMP_H_
