#include "desktop/windows/installer/paths/device_name.h"

#include <algorithm>
#include <cwctype>
#include <iterator>

namespace installer {
namespace {

// Names that Windows opens as devices in any folder, with any extension.
// Its port names also take the digit 0 and the superscripts one, two and
// three (U+00B9, U+00B2, U+00B3).
constexpr std::wstring_view kDeviceNames[] = {
    L"CON",       L"PRN",       L"AUX",       L"NUL",  L"CONIN$", L"CONOUT$",
    L"CLOCK$",    L"COM0",      L"COM1",      L"COM2", L"COM3",   L"COM4",
    L"COM5",      L"COM6",      L"COM7",      L"COM8", L"COM9",   L"COM\u00B9",
    L"COM\u00B2", L"COM\u00B3", L"LPT0",      L"LPT1", L"LPT2",   L"LPT3",
    L"LPT4",      L"LPT5",      L"LPT6",      L"LPT7", L"LPT8",   L"LPT9",
    L"LPT\u00B9", L"LPT\u00B2", L"LPT\u00B3"};

bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](wchar_t x, wchar_t y) {
                      return std::towupper(x) == std::towupper(y);
                    });
}

}  // namespace

bool IsDeviceName(std::wstring_view name) {
  std::wstring_view stem = name.substr(0, name.find(L'.'));
  // Windows drops the blanks before the extension: "CON .txt" is "CON".
  stem = stem.substr(0, stem.find_last_not_of(L' ') + 1);
  return std::any_of(std::begin(kDeviceNames), std::end(kDeviceNames),
                     [stem](std::wstring_view device) {
                       return EqualsIgnoringAsciiCase(stem, device);
                     });
}

}  // namespace installer
