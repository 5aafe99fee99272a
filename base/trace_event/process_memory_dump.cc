#include "base/trace_event/process_memory_dump.h"

#include <string_view>
#include <utility>

#include "base/trace_event/memory_dump_name_whitelist.h"

namespace base {

namespace {

constexpr char kDiscardedDumpName[] = "discarded";

}  // namespace

ProcessMemoryDump::ProcessMemoryDump(int level_of_detail)
    : level_of_detail_(level_of_detail) {}

ProcessMemoryDump::~ProcessMemoryDump() = default;

MemoryAllocatorDump* ProcessMemoryDump::AddAllocatorDump(
    std::unique_ptr<MemoryAllocatorDump> dump) {
  if (level_of_detail_ == kDumpLevelBackground &&
      !IsMemoryAllocatorDumpNameWhitelisted(dump->absolute_name())) {
    return GetDiscardedDump();
  }
  auto [found, inserted] =
      dumps_by_name_.try_emplace(dump->absolute_name(), dump.get());
  if (!inserted)
    return found->second;
  dumps_.push_back(std::move(dump));
  return dumps_.back().get();
}

MemoryAllocatorDump* ProcessMemoryDump::GetDiscardedDump() {
  if (!discarded_)
    discarded_ =
        std::make_unique<MemoryAllocatorDump>(kDiscardedDumpName, this);
  return discarded_.get();
}

MemoryAllocatorDump* ProcessMemoryDump::GetAllocatorDump(
    StringSlice absolute_name) const {
  auto found = dumps_by_name_.find(
      std::string_view(absolute_name.data(), absolute_name.length()));
  return found == dumps_by_name_.end() ? nullptr : found->second;
}

}  // namespace base
