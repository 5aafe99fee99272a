#ifndef BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_INFO_H_
#define BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_INFO_H_

#include <cstdint>

#include "base/ref_counted.h"
#include "base/task_runner.h"
#include "base/trace_event/memory_dump_provider.h"

namespace base {

// One registration of a memory-dump provider. Shared, so that a provider
// being called keeps its registration alive while it is unregistered.
class MemoryDumpProviderInfo : public RefCounted<MemoryDumpProviderInfo> {
 public:
  // Ordered by (task runner, provider): one registration per pair.
  struct Order {
    bool operator()(const RefPtr<MemoryDumpProviderInfo>& a,
                    const RefPtr<MemoryDumpProviderInfo>& b) const;
  };

  // `name` is a literal of the caller's.
  MemoryDumpProviderInfo(MemoryDumpProvider* provider, const char* name,
                         RefPtr<SequencedTaskRunner> task_runner,
                         const MemoryDumpProviderOptions& options);

  MemoryDumpProvider* const provider;
  const char* const name;
  // None: any thread.
  const RefPtr<SequencedTaskRunner> task_runner;
  const MemoryDumpProviderOptions options;
  uint32_t consecutive_failures = 0;
  bool disabled = false;
  const bool whitelisted_for_background_mode;

 private:
  friend class RefCounted<MemoryDumpProviderInfo>;
  ~MemoryDumpProviderInfo();
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_INFO_H_
