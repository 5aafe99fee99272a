#include "base/threading/thread_name_registry.h"

#include "base/lazy_global.h"
#include "base/trace_event/thread_trace_context.h"

namespace base {

namespace {

constinit LazyGlobalInstance<ThreadNameRegistry> g_registry(
    LazyGlobalLifetime::kLeaky);

}  // namespace

// static
ThreadNameRegistry* ThreadNameRegistry::GetInstance() {
  return g_registry.Get();
}

ThreadNameRegistry::ThreadNameRegistry() {
  // Interned before any thread can register, so that every lookup has a
  // name to answer with.
  empty_name_ = Intern(StringSlice());
  main_name_ = empty_name_;
}

void ThreadNameRegistry::RegisterThread(HANDLE handle, uint32_t id) {
  AutoLock hold(lock_);
  id_to_handle_[id] = handle;
  handle_to_name_[handle] = empty_name_;
}

void ThreadNameRegistry::SetName(uint32_t id, StringSlice name) {
  const char* interned = nullptr;
  {
    AutoLock hold(lock_);
    interned = Intern(name);
    auto registered = id_to_handle_.find(id);
    if (registered == id_to_handle_.end()) {
      main_name_ = interned;
      main_id_ = id;
      return;
    }
    handle_to_name_[registered->second] = interned;
  }
  if (ThreadTraceContext::capture_mode() != 0) {
    if (ThreadTraceContext* context = ThreadTraceContext::GetForCurrentThread())
      context->PushContext(interned);
  }
}

const char* ThreadNameRegistry::GetName(uint32_t id) {
  AutoLock hold(lock_);
  if (id == main_id_)
    return main_name_;
  auto registered = id_to_handle_.find(id);
  if (registered == id_to_handle_.end())
    return empty_name_;
  auto named = handle_to_name_.find(registered->second);
  return named == handle_to_name_.end() ? empty_name_ : named->second;
}

void ThreadNameRegistry::RemoveName(HANDLE handle, uint32_t id) {
  AutoLock hold(lock_);
  handle_to_name_.erase(handle);
  auto registered = id_to_handle_.find(id);
  if (registered != id_to_handle_.end() && registered->second == handle)
    id_to_handle_.erase(registered);
}

const char* ThreadNameRegistry::Intern(StringSlice name) {
  return interned_names_.insert(name.AsString()).first->c_str();
}

}  // namespace base
