#ifndef BASE_WIN_REGISTRY_H_
#define BASE_WIN_REGISTRY_H_

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace base::win {

// One open registry key. Every operation returns the Windows error code
// (ERROR_SUCCESS when it worked). Owned by one thread at a time.
class RegistryKey {
 public:
  // The WOW64 view bits of an access mask.
  static constexpr REGSAM kViewMask = KEY_WOW64_64KEY | KEY_WOW64_32KEY;

  // Nothing open.
  RegistryKey();
  // Creates the key when `access` asks to write to it (KEY_SET_VALUE,
  // KEY_CREATE_SUB_KEY or KEY_CREATE_LINK), else only opens it. The error is
  // dropped: test `Valid`. A null `root` keeps only the view bits.
  RegistryKey(HKEY root, const wchar_t* subkey, REGSAM access);
  ~RegistryKey();

  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // On success a key held before is closed and replaced; on failure the
  // object is left as it was.
  LONG Create(HKEY root, const wchar_t* subkey, REGSAM access);
  LONG Open(HKEY root, const wchar_t* subkey, REGSAM access);
  void Close();

  bool Valid() const { return key_ != nullptr; }
  HKEY Handle() const { return key_; }
  // KEY_WOW64_64KEY, KEY_WOW64_32KEY or 0, as the key was opened.
  REGSAM view() const { return view_; }

  // A REG_DWORD, or a REG_BINARY of exactly 4 bytes; anything else gives
  // ERROR_CANTREAD and leaves `out` untouched.
  LONG ReadDword(const wchar_t* name, DWORD* out) const;
  // A REG_SZ, or a REG_EXPAND_SZ with the environment variables expanded,
  // up to its first NUL. Stored values and expansions must fit 1,024
  // characters, terminator included, else ERROR_MORE_DATA; other types give
  // ERROR_CANTREAD. `out` changes only on success.
  LONG ReadString(const wchar_t* name, std::wstring* out) const;
  // The same as it is stored: a REG_EXPAND_SZ's variables are left for the
  // caller, who may not trust this process's environment to name them.
  LONG ReadStoredString(const wchar_t* name, std::wstring* out) const;
  // A REG_SZ, stored with its terminator.
  LONG WriteString(const wchar_t* name, const wchar_t* value);
  // The names of the first `max_names` subkeys (the key opened with
  // KEY_ENUMERATE_SUB_KEYS); a name longer than a key name may be is
  // skipped. What another process may have written is read bounded.
  std::vector<std::wstring> SubkeyNames(size_t max_names) const;

 private:
  // The text of a REG_SZ or REG_EXPAND_SZ and its type.
  LONG ReadText(const wchar_t* name, std::wstring* out, DWORD* type) const;
  // Takes `key`, opened with `access`, closing the key held before.
  void Adopt(HKEY key, REGSAM access);

  HKEY key_ = nullptr;
  REGSAM view_ = 0;
};

}  // namespace base::win

#endif  // BASE_WIN_REGISTRY_H_
