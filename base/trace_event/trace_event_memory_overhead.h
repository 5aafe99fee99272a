#ifndef BASE_TRACE_EVENT_TRACE_EVENT_MEMORY_OVERHEAD_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_MEMORY_OVERHEAD_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace base {

class ProcessMemoryDump;

// The object types the trace machinery counts its memory under. Entries are
// keyed by the address of the name, so every user must name a type through
// these.
inline constexpr char kOverheadTraceLog[] = "TraceLog";
inline constexpr char kOverheadTraceEvent[] = "TraceEvent";
inline constexpr char kOverheadUnusedTraceEvent[] = "TraceEvent (unused)";
inline constexpr char kOverheadString[] = "std::string";
inline constexpr char kOverheadTraceBufferChunk[] = "TraceBufferChunk";
inline constexpr char kOverheadTraceBufferRingBuffer[] =
    "TraceBufferRingBuffer";
inline constexpr char kOverheadTraceBufferVector[] = "TraceBufferVector";
inline constexpr char kOverheadMemoryOverhead[] = "TraceEventMemoryOverhead";
inline constexpr char kOverheadUnknownConvertable[] =
    "ConvertableToTraceFormat(Unknown)";
inline constexpr char kOverheadTracedValue[] = "TracedValue";
inline constexpr char kOverheadTypeNameDeduplicator[] = "TypeNameDeduplicator";
inline constexpr char kOverheadStackFrameDeduplicator[] =
    "StackFrameDeduplicator";

// A tally by object type of the memory the trace log, its buffers and its
// events hold, reported as allocator dumps. Filled by one thread at a time.
class TraceEventMemoryOverhead {
 public:
  TraceEventMemoryOverhead();
  TraceEventMemoryOverhead(const TraceEventMemoryOverhead&) = delete;
  TraceEventMemoryOverhead& operator=(const TraceEventMemoryOverhead&) = delete;
  ~TraceEventMemoryOverhead();

  // `object_type` is compared by address: two equal names at different
  // addresses are two types.
  void Add(const char* object_type, uint64_t count, uint64_t allocated_bytes,
           uint64_t resident_bytes);
  // The heap block and the object of a string's copy, as the trace log
  // estimates it: the capacity rounded up to 16, at least 32, and the 32
  // bytes of the string object.
  void AddString(const std::string& text);
  // The count of kOverheadTraceEvent; 0 when absent.
  uint64_t GetTraceEventCount() const;
  // Adds every entry of `other`.
  void Update(const TraceEventMemoryOverhead& other);
  // One allocator dump "<base name>/<object type>" per entry, in order,
  // with its "size", "resident_size" and "object_count".
  void DumpInto(const char* base_name, ProcessMemoryDump* dump) const;

 private:
  struct Entry {
    const char* object_type = nullptr;
    uint64_t count = 0;
    uint64_t allocated_bytes = 0;
    uint64_t resident_bytes = 0;
  };
  static constexpr size_t kInlineEntries = 16;

  Entry* Find(const char* object_type);
  template <class Visit>
  void ForEach(Visit visit) const;

  // In insertion order until a 17th type comes; then all of them move to
  // `overflow_`, ordered by the name's address.
  Entry inline_[kInlineEntries];
  size_t inline_count_ = 0;
  std::map<const char*, Entry> overflow_;
  bool overflowed_ = false;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_MEMORY_OVERHEAD_H_
