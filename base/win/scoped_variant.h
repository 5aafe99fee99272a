#ifndef BASE_WIN_SCOPED_VARIANT_H_
#define BASE_WIN_SCOPED_VARIANT_H_

#include <windows.h>

#include <oleauto.h>

#include <string_view>

namespace base::win {

// Owns one VARIANT and clears it with VariantClear.
class ScopedVariant {
 public:
  // VT_EMPTY.
  ScopedVariant();
  // VT_BSTR holding a SysAllocString copy of `text`.
  explicit ScopedVariant(const wchar_t* text);
  // VT_ARRAY | VT_UI1 holding a copy of `bytes`; VT_EMPTY when no array
  // could be made.
  explicit ScopedVariant(std::string_view bytes);
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  ~ScopedVariant();

  const VARIANT& Get() const { return variant_; }
  VARTYPE type() const { return V_VT(&variant_); }
  void Reset();
  // For out-parameters: clears the held value and hands out the slot.
  VARIANT* Receive();

 private:
  VARIANT variant_;
};

}  // namespace base::win

#endif  // BASE_WIN_SCOPED_VARIANT_H_
