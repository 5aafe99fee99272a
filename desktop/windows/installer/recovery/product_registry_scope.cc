#include "desktop/windows/installer/recovery/product_registry_scope.h"

#include <algorithm>
#include <span>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_names.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/product_environment/product_environment_impl.h"
#include "desktop/windows/installer/registry/placeholder_resolver.h"
#include "desktop/windows/installer/registry/registry_entry.h"
#include "desktop/windows/installer/registry/registry_entry_tables.h"
#include "desktop/windows/installer/system/utils.h"

namespace installer {

namespace {

// Stand-ins while the rows are expanded; no key name holds them.
constexpr wchar_t kProtocolMark[] = L"\x01P";
constexpr wchar_t kExtensionMark[] = L"\x01E";
constexpr wchar_t kPrefixEnd = L'\x02';

// The product's own keys as a whole, beside the keys its rows delete.
constexpr const wchar_t* kOwnKeys[] = {
    L"Software\\Classes\\{Product}{Stream}",
    L"Software\\Clients\\StartMenuInternet\\{Product}{Stream}",
    L"Software\\Classes\\.ubx",
    L"{CompanyRegistryKey}",
    L"{Uninstall}",
};

// The rows as every run of this product expands them, whichever of its
// protocols and file types it registers and whichever Uninstall entry name
// it took.
class ScopeResolver : public PlaceholderResolver {
 public:
  explicit ScopeResolver(const base::FilePath& install_folder)
      : install_folder_(install_folder.value()) {}

  std::wstring Resolve(const std::wstring& name) override {
    if (name == L"InstallFolder")
      return install_folder_;
    if (name == L"Protocol")
      return kProtocolMark;
    if (name == L"Extension")
      return kExtensionMark;
    if (name == L"Uninstall") {
      // Any version's entry: the version's place marks where the prefix
      // ends.
      return GetUninstallRegistryPath(
          GetUninstallEntryName(std::wstring(1, kPrefixEnd)));
    }
    if (name == L"Product")
      return base::Utf8ToWide(GetProductName());
    if (name == L"Stream")
      return base::Utf8ToWide(GetStreamName());
    if (name == L"CompanyRegistryKey")
      return GetCompanyRegistryPath();
    if (name == L"Executable")
      return base::Utf8ToWide(GetProductExecutableName());
    return name;
  }
  RegistryData* GetRegistryRecord(HKEY) override { return nullptr; }

 private:
  const std::wstring install_folder_;
};

// The key's components upper-cased; none for a key with an empty one (a
// trailing or doubled backslash), which names no key a row writes.
std::vector<std::wstring> SplitKey(const std::wstring& key) {
  std::vector<std::wstring> components;
  size_t start = 0;
  for (;;) {
    const size_t end = std::min(key.find(L'\\', start), key.size());
    if (end == start)
      return {};
    components.push_back(ToUpperOrdinal(key.substr(start, end - start)));
    if (end == key.size())
      return components;
    start = end + 1;
  }
}

bool IsEmptyKey(HKEY root, REGSAM view, const std::wstring& path) {
  base::win::RegistryKey key;
  if (key.Open(root, path.c_str(), KEY_QUERY_VALUE | view) != ERROR_SUCCESS)
    return false;
  DWORD subkeys = 0;
  DWORD values = 0;
  return ::RegQueryInfoKeyW(key.Handle(), nullptr, nullptr, nullptr, &subkeys,
                            nullptr, nullptr, &values, nullptr, nullptr,
                            nullptr, nullptr) == ERROR_SUCCESS &&
         subkeys == 0 && values == 0;
}

void DeleteIfEmpty(HKEY root, REGSAM view, const std::wstring& path) {
  if (IsEmptyKey(root, view, path))
    ::RegDeleteKeyExW(root, path.c_str(), view, 0);
}

void DeleteTree(HKEY root, REGSAM view, const std::wstring& path) {
  base::win::RegistryKey key;
  if (key.Open(root, path.c_str(),
               DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE |
                   KEY_SET_VALUE | view) == ERROR_SUCCESS) {
    ::RegDeleteTreeW(key.Handle(), nullptr);
    key.Close();
  }
  ::RegDeleteKeyExW(root, path.c_str(), view, 0);
}

std::vector<std::wstring> SubkeyNames(HKEY root,
                                      REGSAM view,
                                      const std::wstring& path) {
  std::vector<std::wstring> names;
  base::win::RegistryKey key;
  if (key.Open(root, path.c_str(), KEY_ENUMERATE_SUB_KEYS | view) !=
      ERROR_SUCCESS) {
    return names;
  }
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(std::size(name));
    if (::RegEnumKeyExW(key.Handle(), index, name, &length, nullptr, nullptr,
                        nullptr, nullptr) != ERROR_SUCCESS) {
      return names;
    }
    names.emplace_back(name, length);
  }
}

}  // namespace

ProductRegistryScope::ProductRegistryScope(
    const base::FilePath& install_folder) {
  AddRows(install_folder);
}

ProductRegistryScope::~ProductRegistryScope() = default;

void ProductRegistryScope::AddRows(const base::FilePath& install_folder) {
  ScopeResolver resolver(install_folder);
  std::vector<std::wstring> protocols;
  std::vector<std::wstring> extensions;
  for (const std::wstring& association : GetBrowserAssociations()) {
    (association.front() == L'.' ? extensions : protocols)
        .push_back(ToUpperOrdinal(association));
  }
  const auto to_pattern = [&](const std::wstring& expanded) {
    Pattern pattern;
    for (std::wstring& upper : SplitKey(expanded)) {
      if (upper == ToUpperOrdinal(kProtocolMark)) {
        pattern.push_back(
            {Component::Match::kOneOf, std::wstring(), protocols});
      } else if (upper == ToUpperOrdinal(kExtensionMark)) {
        pattern.push_back(
            {Component::Match::kOneOf, std::wstring(), extensions});
      } else if (!upper.empty() && upper.back() == kPrefixEnd) {
        upper.pop_back();
        pattern.push_back({Component::Match::kPrefix, upper});
      } else {
        pattern.push_back({Component::Match::kExact, upper});
      }
    }
    return pattern;
  };
  for (const wchar_t* key : kOwnKeys) {
    const RegistryEntryDescription row = {key, nullptr, kDeleteKey};
    trees_.push_back(
        to_pattern(RegistryEntry(row, &resolver).ExpandPlaceholders(key)));
  }
  for (const std::span<const RegistryEntryDescription> table :
       {GetInstallationEntries(), GetProtocolEntries(), GetExtensionEntries(),
        GetStartMenuInternetEntries()}) {
    for (const RegistryEntryDescription& row : table) {
      const RegistryEntry entry(row, &resolver);
      Pattern key = to_pattern(entry.ExpandPlaceholders(row.key));
      if (row.kind == kDeleteKey) {
        trees_.push_back(std::move(key));
        continue;
      }
      values_.push_back(
          {std::move(key),
           ToUpperOrdinal(entry.ExpandPlaceholders(row.value_name))});
    }
  }
}

// static
bool ProductRegistryScope::Matches(const Pattern& pattern,
                                   const std::vector<std::wstring>& key,
                                   size_t count) {
  if (count > pattern.size() || count > key.size())
    return false;
  for (size_t i = 0; i < count; ++i) {
    const Component& component = pattern[i];
    switch (component.match) {
      case Component::Match::kExact:
        if (key[i] != component.upper)
          return false;
        break;
      case Component::Match::kOneOf:
        if (std::find(component.choices.begin(), component.choices.end(),
                      key[i]) == component.choices.end()) {
          return false;
        }
        break;
      case Component::Match::kPrefix:
        if (key[i].size() <= component.upper.size() ||
            key[i].compare(0, component.upper.size(), component.upper) != 0) {
          return false;
        }
        break;
    }
  }
  return true;
}

bool ProductRegistryScope::IsInTree(
    const std::vector<std::wstring>& key) const {
  return std::any_of(trees_.begin(), trees_.end(), [&key](const Pattern& tree) {
    return !tree.empty() && tree.size() <= key.size() &&
           Matches(tree, key, tree.size());
  });
}

// A key above the product's rows, such as "Software\Classes\.htm" for the
// row of ".htm\OpenWithProgIDs", is shared: a run that made it had its
// rows below it, nothing else. So is a key every machine is thought to
// have: a new profile may lack even "Software\Classes" of HKCU, and the
// run that made it reaches no further below it than its rows.
ProductRegistryScope::CreatedKeyReach ProductRegistryScope::GetCreatedKeyReach(
    const std::wstring& key) const {
  const std::vector<std::wstring> components = SplitKey(key);
  if (components.empty())
    return CreatedKeyReach::kNone;
  if (IsInTree(components))
    return CreatedKeyReach::kWholeTree;
  // A row's own key counts for a value row: "OpenWithProgIDs" made below a
  // file type that was there holds the product's value and nothing else.
  const auto reaches = [&components](const Pattern& pattern, bool at_row) {
    return (pattern.size() > components.size() ||
            (at_row && pattern.size() == components.size())) &&
           Matches(pattern, components, components.size());
  };
  const bool above_row =
      std::any_of(trees_.begin(), trees_.end(),
                  [&reaches](const Pattern& tree) {
                    return reaches(tree, false);
                  }) ||
      std::any_of(values_.begin(), values_.end(),
                  [&reaches](const ValueRow& row) {
                    return reaches(row.key, true);
                  });
  return above_row ? CreatedKeyReach::kProductPartOnly : CreatedKeyReach::kNone;
}

bool ProductRegistryScope::IsDeletableKey(const std::wstring& key) const {
  const std::vector<std::wstring> components = SplitKey(key);
  return !components.empty() && IsInTree(components);
}

bool ProductRegistryScope::IsProductValue(const std::wstring& key,
                                          const std::wstring& name) const {
  const std::vector<std::wstring> components = SplitKey(key);
  if (components.empty())
    return false;
  if (IsInTree(components))
    return true;
  const std::wstring upper_name = ToUpperOrdinal(name);
  return std::any_of(values_.begin(), values_.end(), [&](const ValueRow& row) {
    return row.key.size() == components.size() &&
           Matches(row.key, components, components.size()) &&
           row.upper_name == upper_name;
  });
}

void ProductRegistryScope::RemoveProductPart(HKEY root,
                                             REGSAM view,
                                             const std::wstring& key) const {
  const std::vector<std::wstring> components = SplitKey(key);
  if (components.empty())
    return;
  const size_t depth = components.size();
  for (const Pattern& tree : trees_) {
    if (tree.size() > depth && Matches(tree, components, depth))
      PruneBelow(root, view, key, tree, depth, true);
  }
  for (const ValueRow& row : values_) {
    if (row.key.size() > depth && Matches(row.key, components, depth))
      PruneBelow(root, view, key, row.key, depth, false);
  }
  DeleteIfEmpty(root, view, key);
}

// Follows `pattern` from `path`, its first `depth` components: what the
// pattern ends in goes (whole, or only when empty), and each key on the way
// once emptied.
void ProductRegistryScope::PruneBelow(HKEY root,
                                      REGSAM view,
                                      const std::wstring& path,
                                      const Pattern& pattern,
                                      size_t depth,
                                      bool whole_tree) const {
  if (depth == pattern.size()) {
    if (whole_tree)
      DeleteTree(root, view, path);
    else
      DeleteIfEmpty(root, view, path);
    return;
  }
  const Component& component = pattern[depth];
  std::vector<std::wstring> children;
  if (component.match == Component::Match::kExact) {
    children.push_back(component.upper);
  } else {
    for (const std::wstring& name : SubkeyNames(root, view, path)) {
      if (Matches({component}, {ToUpperOrdinal(name)}, 1))
        children.push_back(name);
    }
  }
  for (const std::wstring& child : children) {
    const std::wstring child_path = path + L"\\" + child;
    PruneBelow(root, view, child_path, pattern, depth + 1, whole_tree);
    DeleteIfEmpty(root, view, child_path);
  }
}

}  // namespace installer
