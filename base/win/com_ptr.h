#ifndef BASE_WIN_COM_PTR_H_
#define BASE_WIN_COM_PTR_H_

#include <objbase.h>

#include <utility>

namespace base::win {

// Owns one reference to a COM interface and releases it on destruction.
// Move-only, so every reference has exactly one owner.
template <class Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(ComPtr&& other) noexcept : pointer_(other.Detach()) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other)
      Attach(other.Detach());
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { Reset(); }

  Interface* Get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }

  void Reset() { Attach(nullptr); }
  // Takes over a reference the caller already owns.
  void Attach(Interface* pointer) {
    Interface* old = std::exchange(pointer_, pointer);
    if (old)
      old->Release();
  }
  Interface* Detach() { return std::exchange(pointer_, nullptr); }

  // For out-parameters: drops the held reference and hands out the slot.
  Interface** Receive() {
    Reset();
    return &pointer_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

  HRESULT CreateInstance(REFCLSID clsid,
                         DWORD context = CLSCTX_INPROC_SERVER) {
    return ::CoCreateInstance(clsid, nullptr, context, __uuidof(Interface),
                              ReceiveVoid());
  }

  template <class Other>
  HRESULT QueryInterface(ComPtr<Other>* other) const {
    if (!pointer_)
      return E_POINTER;
    return pointer_->QueryInterface(__uuidof(Other), other->ReceiveVoid());
  }

 private:
  Interface* pointer_ = nullptr;
};

}  // namespace base::win

#endif  // BASE_WIN_COM_PTR_H_
