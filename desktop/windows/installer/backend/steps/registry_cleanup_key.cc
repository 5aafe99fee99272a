#include "desktop/windows/installer/backend/steps/registry_cleanup_key.h"

#include <string_view>
#include <vector>

#include "base/strings/string_util.h"

namespace installer {

namespace {

constexpr wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The fewest components a removed key has below each prefix; the longest
// matching prefix decides. Every prefix is itself shared, and so are the
// keys just below the shorter ones (a vendor's key, a list of entries).
struct KeyDepthRule {
  const wchar_t* prefix;
  size_t min_components;
};
constexpr KeyDepthRule kKeyDepthRules[] = {
    {L"Software", 3},
    {L"Software\\Classes", 3},
    {L"Software\\Clients", 4},
    {L"Software\\Microsoft", 4},
    {L"Software\\Policies", 4},
    {L"Software\\Wow6432Node", 4},
    {L"Software\\Microsoft\\Windows", 6},
    {L"Software\\Microsoft\\Windows\\CurrentVersion", 6},
};

std::vector<std::wstring_view> SplitKey(std::wstring_view path) {
  std::vector<std::wstring_view> components;
  size_t start = 0;
  while (true) {
    const size_t end = path.find(L'\\', start);
    components.push_back(path.substr(start, end - start));
    if (end == std::wstring_view::npos)
      return components;
    start = end + 1;
  }
}

bool StartsWithKey(const std::wstring& path, const std::wstring& prefix) {
  return base::StartsWithWide(path, prefix, base::CASE_INSENSITIVE_ASCII) &&
         (path.size() == prefix.size() || path[prefix.size()] == L'\\');
}

}  // namespace

bool GetRegistryCleanupKey(const std::wstring& key_path,
                           int32_t depth,
                           std::wstring* key) {
  if (depth < 1)
    return false;
  std::vector<std::wstring_view> components = SplitKey(key_path);
  for (std::wstring_view component : components) {
    if (component.empty() || component == L"." || component == L"..")
      return false;
  }
  if (static_cast<size_t>(depth) > components.size())
    return false;
  const size_t kept = components.size() - static_cast<size_t>(depth - 1);
  const std::wstring result(
      key_path.data(),
      components[kept - 1].data() + components[kept - 1].size() -
          key_path.data());
  size_t min_components = 0;
  size_t longest_prefix = 0;
  for (const KeyDepthRule& rule : kKeyDepthRules) {
    const std::wstring prefix = rule.prefix;
    if (StartsWithKey(result, prefix) && prefix.size() >= longest_prefix) {
      longest_prefix = prefix.size();
      min_components = rule.min_components;
    }
  }
  // Nothing of ours lies outside "Software".
  if (longest_prefix == 0 || kept < min_components)
    return false;
  *key = result;
  return true;
}

bool IsUninstallEntryKey(const std::wstring& key_path) {
  return base::StartsWithWide(key_path, kUninstallKey,
                              base::CASE_INSENSITIVE_ASCII);
}

}  // namespace installer
