#ifndef BASE_WIN_HANDLE_VERIFIER_H_
#define BASE_WIN_HANDLE_VERIFIER_H_

#include <windows.h>

#include <atomic>
#include <unordered_map>

#include "base/debug/stack_trace.h"
#include "base/threading/tls_slot.h"

namespace base {
class Lock;
}

namespace base::win {

// The one table of owned handles in a process, shared between the host
// executable and the modules it loads: each module asks the host for its
// exported `GetHandleVerifier` first. Active, it stops the process at the
// first misuse of a handle; inactive, it only closes handles, still stopping
// the process when a close fails.
//
// Other modules call it through the virtual table, so the order of the
// virtual operations is fixed, the class is not `final` (calls must not be
// bound to this module's code) and there is no virtual destructor: the
// process's verifier lives until the process ends.
class HandleVerifier {
 public:
  // Verifiers other than the process's own exist only in tests.
  explicit HandleVerifier(bool active);
  HandleVerifier(const HandleVerifier&) = delete;
  HandleVerifier& operator=(const HandleVerifier&) = delete;
  ~HandleVerifier();

  // The process's verifier: the host executable's when it exports one, else
  // one of this module's, made on first use.
  static HandleVerifier* CreateOrFindInstance();

  static void StartTrackingGlobal(HANDLE handle, const void* owner,
                                  const void* creator_pc, const void* caller_pc);
  static void StopTrackingHandle(HANDLE handle, const void* owner,
                                 const void* creator_pc, const void* caller_pc);

  // Closes `handle`. True when it closed; false only for a process handle
  // protected from closing. Any other failed close stops the process.
  virtual bool CloseHandleChecked(HANDLE handle);
  // Records a new owned handle; a handle tracked twice stops the process.
  virtual void StartTracking(HANDLE handle, const void* owner,
                             const void* creator_pc, const void* caller_pc);
  // Forgets a handle before its owner closes it; an untracked handle or one
  // of another owner stops the process.
  virtual void StopTracking(HANDLE handle, const void* owner,
                            const void* creator_pc, const void* caller_pc);
  // Makes the verifier inactive for good.
  virtual void Disable();
  // Checks a close that did not come through `CloseHandleChecked`: a handle
  // that still has an owner stops the process.
  virtual void OnHandleBeingClosed(HANDLE handle);
  // Base address of the module that holds this verifier.
  virtual HMODULE GetModule() const;

 private:
  struct HandleInfo {
    const void* owner;
    const void* creator_pc;
    const void* caller_pc;
    StackTrace stack;
    DWORD thread_id;
  };
  struct HandleHash {
    size_t operator()(HANDLE handle) const;
  };
  using HandleMap = std::unordered_map<HANDLE, HandleInfo, HandleHash>;

  StackTrace creation_stack_;
  std::atomic<bool> active_;
  // Set on a thread while it closes a handle through `CloseHandleChecked`.
  TlsSlot closing_;
  Lock* lock_;
  HandleMap map_;
};

// Closes `handle` through the process's verifier (found or made first).
bool CloseHandleVerified(HANDLE handle);

}  // namespace base::win

#endif  // BASE_WIN_HANDLE_VERIFIER_H_
