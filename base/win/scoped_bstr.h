#ifndef BASE_WIN_SCOPED_BSTR_H_
#define BASE_WIN_SCOPED_BSTR_H_

#include <windows.h>

#include <oleauto.h>

#include <cstddef>

namespace base::win {

// Owns one BSTR and frees it with SysFreeString.
class ScopedBstr {
 public:
  ScopedBstr() = default;
  // A copy of `text` made with SysAllocString (null when that fails).
  explicit ScopedBstr(const wchar_t* text);
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  ~ScopedBstr();

  BSTR Get() const { return bstr_; }
  void Reset(BSTR bstr = nullptr);
  // Gives up ownership; the caller frees the result.
  BSTR Release();
  // For out-parameters: frees the held string and hands out the slot.
  BSTR* Receive();
  // Characters, without the terminator.
  size_t Length() const;

 private:
  BSTR bstr_ = nullptr;
};

}  // namespace base::win

#endif  // BASE_WIN_SCOPED_BSTR_H_
