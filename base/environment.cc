#include "base/environment.h"

#include <windows.h>

#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"

namespace base {

namespace {

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

class WindowsEnvironment : public Environment {
 public:
  bool GetVar(StringSlice name, std::string* value) override {
    if (GetVarExactly(name, value))
      return true;
    if (name.empty() || !IsAsciiLetter(name[0]))
      return false;
    const std::string other_case = (name[0] >= 'a' && name[0] <= 'z')
                                       ? ToUpperAsciiString(name)
                                       : ToLowerAsciiString(name);
    return GetVarExactly(other_case, value);
  }

  bool HasVar(StringSlice name) override { return GetVar(name, nullptr); }

  bool SetVar(StringSlice name, StringSlice value) override {
    return ::SetEnvironmentVariableW(Utf8ToWide(name).c_str(),
                                     Utf8ToWide(value).c_str()) != FALSE;
  }

  bool UnSetVar(StringSlice name) override {
    return ::SetEnvironmentVariableW(Utf8ToWide(name).c_str(), nullptr) !=
           FALSE;
  }

 private:
  static bool GetVarExactly(StringSlice name, std::string* value) {
    const std::wstring wide_name = Utf8ToWide(name);
    DWORD size = ::GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
    if (size == 0)
      return false;
    if (!value)
      return true;
    std::wstring buffer;
    // The value can grow between the calls; the answer then is the new size.
    for (;;) {
      buffer.resize(size);
      const DWORD length =
          ::GetEnvironmentVariableW(wide_name.c_str(), buffer.data(), size);
      if (length == 0)
        return false;
      if (length < size) {
        buffer.resize(length);
        break;
      }
      size = length;
    }
    *value = WideToUtf8(buffer);
    return true;
  }
};

}  // namespace

Environment::~Environment() = default;

std::unique_ptr<Environment> CreateEnvironment() {
  return std::make_unique<WindowsEnvironment>();
}

}  // namespace base
