#include "base/win/scoped_bstr.h"

#include <utility>

namespace base::win {

ScopedBstr::ScopedBstr(const wchar_t* text) : bstr_(::SysAllocString(text)) {}

ScopedBstr::~ScopedBstr() {
  Reset();
}

void ScopedBstr::Reset(BSTR bstr) {
  if (bstr == bstr_)
    return;
  ::SysFreeString(std::exchange(bstr_, bstr));
}

BSTR ScopedBstr::Release() {
  return std::exchange(bstr_, nullptr);
}

BSTR* ScopedBstr::Receive() {
  Reset();
  return &bstr_;
}

size_t ScopedBstr::Length() const {
  return ::SysStringLen(bstr_);
}

}  // namespace base::win
