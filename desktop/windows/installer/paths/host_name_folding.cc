#include "desktop/windows/installer/paths/host_name_folding.h"

#include <windows.h>

#include <algorithm>

#include "base/logging.h"
#include "desktop/windows/installer/paths/local_path.h"

namespace installer {
namespace {

// Room for a host name folded: the longest DNS name has 255 units, and a
// character may fold into several. A name that needs more is none.
constexpr int kMaxFoldedUnits = 1024;

bool IsAscii(std::wstring_view name) {
  return std::all_of(name.begin(), name.end(),
                     [](wchar_t unit) { return unit < 0x80; });
}

// `fold` writes the folded name into a buffer of `capacity` units and
// gives its length, 0 or less when it cannot.
template <typename Fold>
std::optional<std::wstring> Folded(std::wstring_view name,
                                   const char* what,
                                   Fold fold) {
  std::wstring folded(kMaxFoldedUnits, L'\0');
  const int length = fold(name.data(), static_cast<int>(name.size()),
                          folded.data(), kMaxFoldedUnits);
  if (length <= 0) {
    PLOG(WARNING) << "A host name has no " << what << " form";
    return std::nullopt;
  }
  folded.resize(static_cast<size_t>(length));
  return folded;
}

std::optional<std::wstring> CompatibilityForm(std::wstring_view name) {
  return Folded(name, "compatibility",
                [](const wchar_t* in, int size, wchar_t* out, int capacity) {
                  return ::NormalizeString(NormalizationKC, in, size, out,
                                           capacity);
                });
}

// As the resolver asks for an international name: unassigned code points
// allowed, the ASCII characters the name has kept.
std::optional<std::wstring> InternationalForm(std::wstring_view name) {
  return Folded(name, "international",
                [](const wchar_t* in, int size, wchar_t* out, int capacity) {
                  return ::IdnToAscii(IDN_ALLOW_UNASSIGNED, in, size, out,
                                      capacity);
                });
}

// NetBIOS upper-cases a name, then writes it in the OEM code page. A
// character the page has no best fit for becomes its default character,
// and the name then names no machine (nor does one in a page without
// best fits, which refuses the question).
std::optional<std::wstring> OemForm(const std::wstring& upper_name) {
  std::string oem(kMaxFoldedUnits, '\0');
  BOOL used_default = FALSE;
  const int size = ::WideCharToMultiByte(
      CP_OEMCP, 0, upper_name.data(), static_cast<int>(upper_name.size()),
      oem.data(), kMaxFoldedUnits, nullptr, &used_default);
  if (size <= 0 || used_default)
    return std::nullopt;
  std::wstring folded(static_cast<size_t>(size), L'\0');
  const int length = ::MultiByteToWideChar(CP_OEMCP, 0, oem.data(), size,
                                           folded.data(), size);
  if (length <= 0)
    return std::nullopt;
  folded.resize(static_cast<size_t>(length));
  return folded;
}

}  // namespace

std::optional<std::vector<std::wstring>> FoldHostName(std::wstring_view name) {
  const std::wstring upper = ToUpperOrdinal(std::wstring(name));
  if (IsAscii(name))
    return std::vector<std::wstring>{upper};
  const std::optional<std::wstring> compatible = CompatibilityForm(name);
  const std::optional<std::wstring> international = InternationalForm(name);
  if (!compatible || !international)
    return std::nullopt;
  std::vector<std::wstring> spellings = {upper, ToUpperOrdinal(*compatible),
                                         ToUpperOrdinal(*international)};
  if (const std::optional<std::wstring> oem = OemForm(upper))
    spellings.push_back(ToUpperOrdinal(*oem));
  return spellings;
}

}  // namespace installer
