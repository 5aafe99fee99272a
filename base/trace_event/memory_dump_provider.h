#ifndef BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_H_
#define BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_H_

#include <cstdint>

namespace base {

class ProcessMemoryDump;

// What a provider is asked to describe: one of kDumpLevelBackground,
// kDumpLevelLight, kDumpLevelDetailed.
struct MemoryDumpArgs {
  int level_of_detail;
};

// How a provider is registered with the memory-dump manager.
struct MemoryDumpProviderOptions {
  // 0: this process.
  uint32_t target_pid = 0;
  uint8_t dumps_on_single_thread_task_runner = 1;
  uint8_t is_fast_polling_supported = 0;
};

// An object that can describe the memory it holds into a process memory
// dump. The hooks after `OnMemoryDump` are optional.
class MemoryDumpProvider {
 public:
  virtual ~MemoryDumpProvider() = default;

  // False when the provider could not describe itself this time.
  virtual bool OnMemoryDump(const MemoryDumpArgs& args,
                            ProcessMemoryDump* dump) = 0;
  virtual void OnHeapProfilingEnabled(bool enabled) {}
  // Only for providers registered with fast polling: a cheap total of the
  // memory they hold, asked on the dump thread.
  virtual void PollFastMemoryTotal(uint64_t* memory_total) {}
  virtual void SuspendFastMemoryPolling() {}
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_H_
