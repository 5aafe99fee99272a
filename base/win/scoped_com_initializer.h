#ifndef BASE_WIN_SCOPED_COM_INITIALIZER_H_
#define BASE_WIN_SCOPED_COM_INITIALIZER_H_

#include <objbase.h>

namespace base::win {

// Initialises COM on the current thread for the scope's life and balances
// it afterwards. Lives and dies on one thread.
class ScopedCOMInitializer {
 public:
  enum class Apartment { kSingleThreaded, kMultiThreaded };

  explicit ScopedCOMInitializer(
      Apartment apartment = Apartment::kSingleThreaded);
  ScopedCOMInitializer(const ScopedCOMInitializer&) = delete;
  ScopedCOMInitializer& operator=(const ScopedCOMInitializer&) = delete;
  ~ScopedCOMInitializer();

  // False when the thread was already in an apartment of the other kind.
  bool Succeeded() const { return SUCCEEDED(result_); }

 private:
  HRESULT result_;
};

}  // namespace base::win

#endif  // BASE_WIN_SCOPED_COM_INITIALIZER_H_
