#ifndef BASE_THREADING_THREAD_NAME_REGISTRY_H_
#define BASE_THREADING_THREAD_NAME_REGISTRY_H_

#include <windows.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "base/strings/string_slice.h"
#include "base/threading/lock.h"

namespace base {

// The names of the process's threads, by thread id. Names are interned and
// never freed, so a name pointer from `GetName` stays valid for the life of
// the process and may be used without the lock. Every operation is safe from
// any thread.
class ThreadNameRegistry {
 public:
  // Made on first use, never destroyed.
  static ThreadNameRegistry* GetInstance();

  ThreadNameRegistry();
  ThreadNameRegistry(const ThreadNameRegistry&) = delete;
  ThreadNameRegistry& operator=(const ThreadNameRegistry&) = delete;

  // A thread started here registers under a real handle to itself; its name
  // is empty until it sets one.
  void RegisterThread(HANDLE handle, uint32_t id);
  // An id that is not registered names the main thread (the one thread that
  // names itself without being started here).
  void SetName(uint32_t id, StringSlice name);
  // The empty name for an id never named; never null.
  const char* GetName(uint32_t id);
  // Keeps the id's entry when a newer thread has taken the id meanwhile.
  void RemoveName(HANDLE handle, uint32_t id);

 private:
  const char* Intern(StringSlice name);

  Lock lock_;
  // Set nodes never move, so their strings serve as the interned copies.
  std::set<std::string> interned_names_;
  std::map<uint32_t, HANDLE> id_to_handle_;
  std::map<HANDLE, const char*> handle_to_name_;
  const char* main_name_ = nullptr;
  uint32_t main_id_ = 0;
  const char* empty_name_ = nullptr;
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_NAME_REGISTRY_H_
