#include "base/trace_event/memory_dump_provider_info.h"

#include <functional>
#include <tuple>
#include <utility>

#include "base/trace_event/memory_dump_name_whitelist.h"

namespace base {

bool MemoryDumpProviderInfo::Order::operator()(
    const RefPtr<MemoryDumpProviderInfo>& a,
    const RefPtr<MemoryDumpProviderInfo>& b) const {
  const std::less<const void*> less;
  const void* a_runner = a->task_runner.get();
  const void* b_runner = b->task_runner.get();
  if (a_runner != b_runner)
    return less(a_runner, b_runner);
  return less(a->provider, b->provider);
}

MemoryDumpProviderInfo::MemoryDumpProviderInfo(
    MemoryDumpProvider* provider, const char* name,
    RefPtr<SequencedTaskRunner> task_runner,
    const MemoryDumpProviderOptions& options)
    : provider(provider),
      name(name),
      task_runner(std::move(task_runner)),
      options(options),
      whitelisted_for_background_mode(IsMemoryDumpProviderWhitelisted(name)) {}

MemoryDumpProviderInfo::~MemoryDumpProviderInfo() = default;

}  // namespace base
