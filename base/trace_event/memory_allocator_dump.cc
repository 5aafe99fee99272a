#include "base/trace_event/memory_allocator_dump.h"

#include <cstring>
#include <utility>

#include "base/hash/sha1.h"
#include "base/strings/string_format.h"
#include "base/trace_event/trace_log.h"

namespace base {

namespace {

uint64_t DumpGuid(const std::string& absolute_name) {
  const std::string text = FormatString(
      "%d:%s", TraceLog::GetInstance()->process_id(), absolute_name.c_str());
  uint8_t digest[kSha1Length];
  Sha1HashBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                digest);
  uint64_t guid = 0;
  for (int i = 7; i >= 0; --i)
    guid = (guid << 8) | digest[i];
  return guid;
}

}  // namespace

MemoryAllocatorDump::MemoryAllocatorDump(std::string absolute_name,
                                         ProcessMemoryDump* process_memory_dump)
    : absolute_name_(std::move(absolute_name)),
      process_memory_dump_(process_memory_dump),
      attributes_(std::make_unique<TracedValue>()),
      guid_(DumpGuid(absolute_name_)) {
  scratch_.reserve(16);
}

MemoryAllocatorDump::~MemoryAllocatorDump() = default;

void MemoryAllocatorDump::AddScalar(const char* name, const char* units,
                                    uint64_t value) {
  FormatIntoString(&scratch_, "%llx", static_cast<unsigned long long>(value));
  attributes_->BeginDictionaryWithCopiedName(name);
  attributes_->SetString("type", "scalar");
  attributes_->SetString("units", units);
  attributes_->SetString("value", scratch_);
  attributes_->EndDictionary();
}

}  // namespace base
