#include "base/trace_event/trace_event_memory_overhead.h"

#include <memory>

#include "base/strings/string_format.h"
#include "base/trace_event/memory_allocator_dump.h"
#include "base/trace_event/process_memory_dump.h"

namespace base {

namespace {

constexpr uint64_t kStringObjectBytes = 32;

uint64_t StringBlockBytes(size_t capacity) {
  const uint64_t rounded =
      (static_cast<uint64_t>(capacity) + 15) & ~uint64_t{15};
  return rounded < 32 ? 32 : rounded;
}

}  // namespace

TraceEventMemoryOverhead::TraceEventMemoryOverhead() = default;
TraceEventMemoryOverhead::~TraceEventMemoryOverhead() = default;

void TraceEventMemoryOverhead::Add(const char* object_type, uint64_t count,
                                   uint64_t allocated_bytes,
                                   uint64_t resident_bytes) {
  Entry* entry = Find(object_type);
  if (!entry) {
    if (!overflowed_ && inline_count_ < kInlineEntries) {
      entry = &inline_[inline_count_++];
    } else {
      if (!overflowed_) {
        for (size_t i = 0; i < inline_count_; ++i)
          overflow_[inline_[i].object_type] = inline_[i];
        inline_count_ = 0;
        overflowed_ = true;
      }
      entry = &overflow_[object_type];
    }
    entry->object_type = object_type;
  }
  entry->count += count;
  entry->allocated_bytes += allocated_bytes;
  entry->resident_bytes += resident_bytes;
}

void TraceEventMemoryOverhead::AddString(const std::string& text) {
  const uint64_t bytes = StringBlockBytes(text.capacity()) + kStringObjectBytes;
  Add(kOverheadString, 1, bytes, bytes);
}

uint64_t TraceEventMemoryOverhead::GetTraceEventCount() const {
  uint64_t count = 0;
  ForEach([&](const Entry& entry) {
    if (entry.object_type == kOverheadTraceEvent)
      count = entry.count;
  });
  return count;
}

void TraceEventMemoryOverhead::Update(const TraceEventMemoryOverhead& other) {
  other.ForEach([&](const Entry& entry) {
    Add(entry.object_type, entry.count, entry.allocated_bytes,
        entry.resident_bytes);
  });
}

void TraceEventMemoryOverhead::DumpInto(const char* base_name,
                                        ProcessMemoryDump* dump) const {
  ForEach([&](const Entry& entry) {
    MemoryAllocatorDump* allocator_dump =
        dump->AddAllocatorDump(std::make_unique<MemoryAllocatorDump>(
            FormatString("%s/%s", base_name, entry.object_type), dump));
    allocator_dump->AddScalar(MemoryAllocatorDump::kNameSize,
                              MemoryAllocatorDump::kUnitsBytes,
                              entry.allocated_bytes);
    allocator_dump->AddScalar("resident_size", MemoryAllocatorDump::kUnitsBytes,
                              entry.resident_bytes);
    allocator_dump->AddScalar(MemoryAllocatorDump::kNameObjectCount,
                              MemoryAllocatorDump::kUnitsObjects, entry.count);
  });
}

TraceEventMemoryOverhead::Entry* TraceEventMemoryOverhead::Find(
    const char* object_type) {
  if (overflowed_) {
    auto found = overflow_.find(object_type);
    return found == overflow_.end() ? nullptr : &found->second;
  }
  for (size_t i = 0; i < inline_count_; ++i) {
    if (inline_[i].object_type == object_type)
      return &inline_[i];
  }
  return nullptr;
}

template <class Visit>
void TraceEventMemoryOverhead::ForEach(Visit visit) const {
  if (overflowed_) {
    for (const auto& [type, entry] : overflow_)
      visit(entry);
    return;
  }
  for (size_t i = 0; i < inline_count_; ++i)
    visit(inline_[i]);
}

}  // namespace base
