#ifndef BASE_LAZY_GLOBAL_H_
#define BASE_LAZY_GLOBAL_H_

#include <atomic>
#include <cstdint>
#include <memory>

#include "base/exit_callback_stack.h"

namespace base {

// The word that publishes a process-wide object made on first use, without a
// lock: 0 not made, 1 being made, any other value the object's address.
// Exactly one thread wins the right to make the object; the others yield
// until it is published.
class LazyGlobal {
 public:
  static constexpr uintptr_t kNotCreated = 0;
  static constexpr uintptr_t kBeingCreated = 1;

  constexpr LazyGlobal() = default;
  LazyGlobal(const LazyGlobal&) = delete;
  LazyGlobal& operator=(const LazyGlobal&) = delete;

  // The object's address, or 0 when the caller has won the right to make it
  // and must `Publish` it.
  uintptr_t GetOrClaim();
  void Publish(uintptr_t address);
  // Back to "not made"; returns the address that was published.
  uintptr_t Clear();

  // Spins, yielding the processor, while `word` says "being made"; returns
  // the word's value then.
  static uintptr_t WaitForInstance(const std::atomic<uintptr_t>& word);

 private:
  std::atomic<uintptr_t> word_{kNotCreated};
};

enum class LazyGlobalLifetime {
  // Lives as long as the process.
  kLeaky,
  // Deleted by the `ExitCallbackStack`; made again if used after that.
  kDestroyAtExit,
};

// A process-wide `T`, default-constructed on first use. Declare it as a
// namespace-scope `constinit` global:
//   constinit LazyGlobalInstance<Registry> g_registry(
//       LazyGlobalLifetime::kLeaky);
template <class T>
class LazyGlobalInstance {
 public:
  constexpr explicit LazyGlobalInstance(LazyGlobalLifetime lifetime)
      : lifetime_(lifetime) {}
  LazyGlobalInstance(const LazyGlobalInstance&) = delete;
  LazyGlobalInstance& operator=(const LazyGlobalInstance&) = delete;

  T* Get();

 private:
  static void DestroyInstance(void* self);

  LazyGlobal word_;
  const LazyGlobalLifetime lifetime_;
};

template <class T>
T* LazyGlobalInstance<T>::Get() {
  if (uintptr_t address = word_.GetOrClaim())
    return reinterpret_cast<T*>(address);
  T* instance = std::make_unique<T>().release();
  word_.Publish(reinterpret_cast<uintptr_t>(instance));
  if (lifetime_ == LazyGlobalLifetime::kDestroyAtExit)
    ExitCallbackStack::RegisterCallback(&DestroyInstance, this);
  return instance;
}

// static
template <class T>
void LazyGlobalInstance<T>::DestroyInstance(void* self) {
  auto* global = static_cast<LazyGlobalInstance*>(self);
  std::unique_ptr<T> instance(reinterpret_cast<T*>(global->word_.Clear()));
}

}  // namespace base

#endif  // BASE_LAZY_GLOBAL_H_
