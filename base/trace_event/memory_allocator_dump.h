#ifndef BASE_TRACE_EVENT_MEMORY_ALLOCATOR_DUMP_H_
#define BASE_TRACE_EVENT_MEMORY_ALLOCATOR_DUMP_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/trace_event/traced_value.h"

namespace base {

class ProcessMemoryDump;

// One named node of a memory dump ("tracing/main_trace_log/TraceEvent",
// say) with its scalar attributes.
class MemoryAllocatorDump {
 public:
  static constexpr char kNameSize[] = "size";
  static constexpr char kNameObjectCount[] = "object_count";
  static constexpr char kUnitsBytes[] = "bytes";
  static constexpr char kUnitsObjects[] = "objects";

  MemoryAllocatorDump(std::string absolute_name,
                      ProcessMemoryDump* process_memory_dump);
  MemoryAllocatorDump(const MemoryAllocatorDump&) = delete;
  MemoryAllocatorDump& operator=(const MemoryAllocatorDump&) = delete;
  ~MemoryAllocatorDump();

  // Adds {"type": "scalar", "units": units, "value": hexadecimal text} under
  // `name` to the attributes.
  void AddScalar(const char* name, const char* units, uint64_t value);

  const std::string& absolute_name() const { return absolute_name_; }
  ProcessMemoryDump* process_memory_dump() const {
    return process_memory_dump_;
  }
  const TracedValue& attributes() const { return *attributes_; }
  // The same for every dump of this name in this process: the first 8 bytes
  // (little-endian) of the SHA-1 of "<process id>:<absolute name>".
  uint64_t guid() const { return guid_; }
  uint32_t flags() const { return flags_; }

 private:
  const std::string absolute_name_;
  ProcessMemoryDump* const process_memory_dump_;
  const std::unique_ptr<TracedValue> attributes_;
  const uint64_t guid_;
  uint32_t flags_ = 0;
  // Formats values without a new string each time.
  std::string scratch_;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_ALLOCATOR_DUMP_H_
