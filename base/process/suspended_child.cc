#include "base/process/suspended_child.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "base/lazy_global.h"
#include "base/threading/lock.h"

namespace base {

namespace {

// What a held child ends with when its starter ends or lets it go
// unresumed: none of its code ran.
constexpr UINT kUnresumedExitCode = 1;
// How long an ending process waits for the list; a resume or an end holds
// it for a few lines, unless the thread that crashed did.
constexpr int kListPolls = 1000;
constexpr DWORD kListPollMs = 10;

// The children held suspended in this process. Taken for good by a process
// that ends: never destroyed.
struct HeldChildren {
  Lock lock;
  std::vector<SuspendedChild*> children;
};

constinit LazyGlobalInstance<HeldChildren> g_held(LazyGlobalLifetime::kLeaky);

}  // namespace

SuspendedChild::SuspendedChild() = default;

SuspendedChild::~SuspendedChild() {
  End(kUnresumedExitCode);
}

bool SuspendedChild::Hold(HANDLE process, win::ScopedHandle main_thread) {
  End(kUnresumedExitCode);
  HANDLE own = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), process, ::GetCurrentProcess(),
                         &own, PROCESS_TERMINATE, FALSE, 0)) {
    return false;
  }
  HeldChildren& held = *g_held.Get();
  const AutoLock listed(held.lock);
  process_.Set(own);
  main_thread_ = std::move(main_thread);
  held.children.push_back(this);
  return true;
}

bool SuspendedChild::Resume() {
  if (!IsHeld()) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  HeldChildren& held = *g_held.Get();
  // Under the list's lock: an ending process either ends the child first or
  // finds it gone from the list, never a child that runs.
  const AutoLock listed(held.lock);
  if (::ResumeThread(main_thread_.Get()) == static_cast<DWORD>(-1))
    return false;
  Release();
  return true;
}

void SuspendedChild::End(UINT exit_code) {
  if (!IsHeld())
    return;
  HeldChildren& held = *g_held.Get();
  const AutoLock listed(held.lock);
  ::TerminateProcess(process_.Get(), exit_code);
  Release();
}

// static
void SuspendedChild::EndAllForGood() {
  HeldChildren& held = *g_held.Get();
  bool taken = held.lock.Try();
  for (int poll = 0; poll < kListPolls && !taken; ++poll) {
    ::Sleep(kListPollMs);
    taken = held.lock.Try();
  }
  if (!taken)
    return;
  // Kept: a resume on another thread waits for this process's end.
  for (SuspendedChild* child : held.children)
    ::TerminateProcess(child->process_.Get(), kUnresumedExitCode);
}

// The caller holds the list's lock.
void SuspendedChild::Release() {
  std::vector<SuspendedChild*>& children = g_held.Get()->children;
  children.erase(std::remove(children.begin(), children.end(), this),
                 children.end());
  process_.Close();
  main_thread_.Close();
}

}  // namespace base
