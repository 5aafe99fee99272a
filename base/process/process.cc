#include "base/process/process.h"

#include <cstdint>
#include <utility>

#include "base/logging.h"
#include "base/trace_event/activity_scope.h"

namespace base {

namespace {

constexpr DWORD kOpenAccess =
    PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION | SYNCHRONIZE;

DWORD TimeoutInMilliseconds(TimeDelta timeout) {
  if (timeout.is_max())
    return INFINITE;
  const int64_t milliseconds = timeout.InMicroseconds() / 1000;
  if (milliseconds < 0)
    return 0;
  if (milliseconds > 0xFFFFFFFFll)
    return INFINITE;
  return static_cast<DWORD>(milliseconds);
}

}  // namespace

Process::Process() = default;

Process::Process(HANDLE handle) : process_(handle) {
  CHECK(handle != ::GetCurrentProcess());
}

Process::Process(Process&& other) noexcept
    : is_current_(std::exchange(other.is_current_, false)),
      process_(std::move(other.process_)) {}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    is_current_ = std::exchange(other.is_current_, false);
    process_ = std::move(other.process_);
  }
  return *this;
}

Process::~Process() = default;

// static
Process Process::Current() {
  Process process;
  process.is_current_ = true;
  return process;
}

// static
Process Process::Open(DWORD process_id) {
  return Process(::OpenProcess(kOpenAccess, FALSE, process_id));
}

bool Process::IsValid() const {
  return is_current_ || process_.IsValid();
}

HANDLE Process::Handle() const {
  return is_current_ ? ::GetCurrentProcess() : process_.Get();
}

DWORD Process::Pid() const {
  if (is_current_)
    return ::GetCurrentProcessId();
  return ::GetProcessId(process_.Get());
}

bool Process::WaitForExitWithTimeout(TimeDelta timeout, int* exit_code) const {
  ProcessWaitActivityScope activity(*this);
  if (::WaitForSingleObject(Handle(), TimeoutInMilliseconds(timeout)) !=
      WAIT_OBJECT_0) {
    return false;
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(Handle(), &code))
    return false;
  if (exit_code)
    *exit_code = static_cast<int>(code);
  return true;
}

bool Process::WaitForExit(int* exit_code) const {
  // 0xFFFFFFFF ms: INFINITE.
  return WaitForExitWithTimeout(
      TimeDelta::FromMicroseconds(4'294'967'295'000ll), exit_code);
}

}  // namespace base
