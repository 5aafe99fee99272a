#ifndef DESKTOP_WINDOWS_INSTALLER_RECOVERY_PRODUCT_REGISTRY_SCOPE_H_
#define DESKTOP_WINDOWS_INSTALLER_RECOVERY_PRODUCT_REGISTRY_SCOPE_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

// The registry a run of this product into one folder can change, under
// HKCU or HKLM: the values of its registry tables' rows (for each of its
// protocols and file types where a row stands for any), the keys those
// rows delete,
// and the keys that are the product's own as a whole (its document class,
// start-menu client, Uninstall entries, company key and file type). What a
// recovery reads in a journal must lie in it.
class ProductRegistryScope {
 public:
  // How far the undo of a key a run created may reach.
  enum class CreatedKeyReach {
    // Not a key the run could have made: nothing.
    kNone,
    // The product's own: the key with all below it.
    kWholeTree,
    // A shared key (such as a file type's, or "Software\Classes" where a
    // new profile had none) that did not exist before the run: only what
    // the product's rows put below it, and the key itself once that leaves
    // it empty.
    kProductPartOnly,
  };

  explicit ProductRegistryScope(const base::FilePath& install_folder);
  ~ProductRegistryScope();
  ProductRegistryScope(const ProductRegistryScope&) = delete;
  ProductRegistryScope& operator=(const ProductRegistryScope&) = delete;

  CreatedKeyReach GetCreatedKeyReach(const std::wstring& key) const;
  // A key the run could delete with all below it, and so a recovery make
  // again with its values.
  bool IsDeletableKey(const std::wstring& key) const;
  // A value the run could change, add or remove.
  bool IsProductValue(const std::wstring& key, const std::wstring& name) const;

  // Removes what the product's rows put below `key` (created by a run that
  // died) and `key` itself once that leaves it empty.
  void RemoveProductPart(HKEY root, REGSAM view, const std::wstring& key) const;

 private:
  // One key component of a row: as written, one of the product's protocols
  // or file types, or any name that begins with the text (an Uninstall
  // entry). Upper-cased.
  struct Component {
    enum class Match { kExact, kOneOf, kPrefix };
    Match match;
    std::wstring upper;
    std::vector<std::wstring> choices;
  };
  using Pattern = std::vector<Component>;
  struct ValueRow {
    Pattern key;
    std::wstring upper_name;
  };

  // Whether the first `count` components of `key` (upper-cased) match the
  // pattern's.
  static bool Matches(const Pattern& pattern,
                      const std::vector<std::wstring>& key,
                      size_t count);

  void AddRows(const base::FilePath& install_folder);
  bool IsInTree(const std::vector<std::wstring>& key) const;
  void PruneBelow(HKEY root,
                  REGSAM view,
                  const std::wstring& path,
                  const Pattern& pattern,
                  size_t depth,
                  bool whole_tree) const;

  // The product's own keys and the keys its rows delete.
  std::vector<Pattern> trees_;
  std::vector<ValueRow> values_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_RECOVERY_PRODUCT_REGISTRY_SCOPE_H_
