#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_DEBUGGED_THREAD_INFO_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_DEBUGGED_THREAD_INFO_H_

#include <windows.h>

#include <cstdint>

#include "desktop/windows/crash_reporter/process_state.h"

namespace installer {

// A thread of a crashed process to which the reporter is attached as a
// debugger: its registers, priority and how much stack lies above its
// stack pointer.
class DebuggedThreadInfo : public ThreadInfo {
 public:
  DebuggedThreadInfo(uint32_t thread_id, bool crashed);
  DebuggedThreadInfo(const DebuggedThreadInfo&) = delete;
  DebuggedThreadInfo& operator=(const DebuggedThreadInfo&) = delete;
  ~DebuggedThreadInfo() override;

  // Reads the thread's own context; false (logged) when it cannot be read,
  // and the thread is then left out.
  bool ReadFromThread(HANDLE process);
  // The crashed thread: its registers as the crash saved them.
  void ReadFromContext(HANDLE process, const CONTEXT& context);

  // The registers of `context` in the crash log's terms.
  static ThreadRegisters RegistersFromContext(const CONTEXT& context);

  // ThreadInfo:
  uint32_t GetThreadId() const override { return thread_id_; }
  int32_t GetPriority() const override { return priority_; }
  const ThreadRegisters& GetRegisters() const override { return registers_; }
  uint64_t GetStackSize() const override { return stack_size_; }
  bool IsCrashed() const override { return crashed_; }

 private:
  void ReadPriority(HANDLE thread);
  void ReadStackSize(HANDLE process);

  const uint32_t thread_id_;
  const bool crashed_;
  int32_t priority_ = 0;
  uint64_t stack_size_ = 0;
  ThreadRegisters registers_ = {};
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_DEBUGGED_THREAD_INFO_H_
