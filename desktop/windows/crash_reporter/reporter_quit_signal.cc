#include "desktop/windows/crash_reporter/reporter_quit_signal.h"

#include "base/lazy_global.h"
#include "base/logging.h"

namespace installer {

namespace {

constinit base::LazyGlobalInstance<ReporterQuitSignal> g_quit_signal(
    base::LazyGlobalLifetime::kDestroyAtExit);

}  // namespace

// static
ReporterQuitSignal* ReporterQuitSignal::Instance() {
  return g_quit_signal.Get();
}

ReporterQuitSignal::~ReporterQuitSignal() = default;

bool ReporterQuitSignal::CreateQuitEvent() {
  event_.Set(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event_.IsValid()) {
    PLOG(ERROR) << "Cannot create the quit event";
    return false;
  }
  return true;
}

void ReporterQuitSignal::AddHold() {
  base::AutoLock hold(lock_);
  if (holds_++ == 0)
    ::ResetEvent(event_.Get());
}

void ReporterQuitSignal::ReleaseHold() {
  base::AutoLock hold(lock_);
  if (holds_ == 0) {
    LOG(ERROR) << "Quit signal released without a hold";
    return;
  }
  if (--holds_ == 0)
    ::SetEvent(event_.Get());
}

bool ReporterQuitSignal::Wait() {
  return ::WaitForSingleObject(event_.Get(), INFINITE) == WAIT_OBJECT_0;
}

bool ReporterQuitSignal::IsSignalled() const {
  return ::WaitForSingleObject(event_.Get(), 0) == WAIT_OBJECT_0;
}

}  // namespace installer
