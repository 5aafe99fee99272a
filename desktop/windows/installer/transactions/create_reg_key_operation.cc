#include "desktop/windows/installer/transactions/create_reg_key_operation.h"

#include <algorithm>

#include "base/logging.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/security/access_permissions.h"
#include "desktop/windows/installer/security/registry_object_name.h"

namespace installer {

namespace {

// Registry key names may hold '/' (MIME types do): only the backslash
// separates them. The parent of a top-level key is the root, "".
std::wstring ParentKeyPath(const std::wstring& key_path) {
  const size_t separator = key_path.rfind(L'\\');
  return separator == std::wstring::npos ? std::wstring()
                                         : key_path.substr(0, separator);
}

}  // namespace

CreateRegKeyOperation::CreateRegKeyOperation(HKEY root,
                                             const std::wstring& key_path,
                                             REGSAM view)
    : root_(root), key_path_(key_path), view_(view) {}

CreateRegKeyOperation::~CreateRegKeyOperation() {
  if (saved_security_)
    RestoreSecurityInfo(saved_security_.get());
}

bool CreateRegKeyOperation::Do(Transaction* /*sub_operations*/) {
  VLOG(1) << "Attempting to create registry key " << key_path_.c_str()
          << " under " << root_;
  base::win::RegistryKey key;
  const LONG result =
      key.Open(root_, key_path_.c_str(), KEY_QUERY_VALUE | view_);
  key.Close();
  // A refused open proves the key is there as much as a successful one; any
  // other error says nothing about it.
  if (result == ERROR_SUCCESS || result == ERROR_ACCESS_DENIED) {
    VLOG(1) << "The key already exists. No need to do anything.";
    return true;
  }
  if (result != ERROR_FILE_NOT_FOUND) {
    LOG(ERROR) << "Failed to open "
               << GetRegistryObjectName(root_, key_path_).c_str() << ": "
               << base::SystemErrorCodeToString(result);
    return false;
  }

  VLOG(1) << "Attempting to find the nearest existing ancestor.";
  Ancestor ancestor;
  if (!FindAncestor(&ancestor))
    return false;
  VLOG(1) << "Ancestor found: " << ancestor.path.c_str();
  if (!EnsureCreateAccess(ancestor))
    return false;

  // Recorded first: a creation that fails part-way may leave keys behind.
  if (!RunJournal::Get()->RecordCreatedKey(root_, view_,
                                           ancestor.first_missing)) {
    return false;
  }
  created_key_ = ancestor.first_missing;
  return CreateBelow(ancestor.path);
}

bool CreateRegKeyOperation::CreateBelow(const std::wstring& ancestor_path) {
  // Level by level, each through the handle its creation returned, as the
  // system's own creation walks down: a key just made may not name this
  // process in its list (it inherits the ancestor's inheritable entries,
  // not a grant made for this run), yet its creator may make keys below it.
  base::win::RegistryKey parent;
  LONG result =
      parent.Open(root_, ancestor_path.c_str(), KEY_CREATE_SUB_KEY | view_);
  const size_t start = ancestor_path.empty() ? 0 : ancestor_path.size() + 1;
  for (size_t begin = start; result == ERROR_SUCCESS && begin <= key_path_.size();) {
    const size_t end = std::min(key_path_.find(L'\\', begin), key_path_.size());
    // Made through the handle above it, which it then replaces.
    result = parent.Create(parent.Handle(),
                           key_path_.substr(begin, end - begin).c_str(),
                           KEY_ALL_ACCESS | view_);
    begin = end + 1;
  }
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed creating key.: "
               << base::SystemErrorCodeToString(result);
    return false;
  }
  return true;
}

void CreateRegKeyOperation::Rollback() {
  if (created_key_.empty())
    return;
  // In the view it was created in: a same-named key of the other view, as
  // the 64-bit twin of a 32-bit uninstall entry, is not ours to delete.
  base::win::RegistryKey key;
  if (key.Open(root_, created_key_.c_str(),
               DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE |
                   KEY_SET_VALUE | view_) == ERROR_SUCCESS) {
    ::RegDeleteTreeW(key.Handle(), nullptr);
    key.Close();
  }
  ::RegDeleteKeyExW(root_, created_key_.c_str(), view_, 0);
}

bool CreateRegKeyOperation::FindAncestor(Ancestor* ancestor) const {
  std::wstring candidate = key_path_;
  for (;;) {
    const std::wstring parent = ParentKeyPath(candidate);
    if (parent == candidate) {
      LOG(ERROR) << "No existing ancestor found.";
      return false;
    }
    base::win::RegistryKey key;
    const LONG result =
        key.Open(root_, parent.c_str(), KEY_CREATE_SUB_KEY | view_);
    if (result == ERROR_SUCCESS || result == ERROR_ACCESS_DENIED) {
      ancestor->path = parent;
      ancestor->first_missing = candidate;
      ancestor->refused = result == ERROR_ACCESS_DENIED;
      return true;
    }
    if (result != ERROR_FILE_NOT_FOUND) {
      LOG(ERROR) << "Existing ancestor could not be opened.: "
                 << base::SystemErrorCodeToString(result);
      return false;
    }
    candidate = parent;
  }
}

bool CreateRegKeyOperation::EnsureCreateAccess(const Ancestor& ancestor) {
  const std::wstring object_name = GetRegistryObjectName(root_, ancestor.path);
  const int object_type = GetRegistryObjectType(view_);
  // The ancestor was opened for exactly this right: that open proves it.
  if (!ancestor.refused)
    return true;
  VLOG(1) << "No access to" << object_name.c_str();
  if (!GrantAccessToCurrentUser(object_name, object_type, KEY_CREATE_SUB_KEY,
                                /*keep_previous=*/true, &saved_security_)) {
    LOG(ERROR) << "Failed obtaining permissions on " << object_name.c_str();
    return false;
  }
  return true;
}

}  // namespace installer
