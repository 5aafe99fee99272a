#include "desktop/windows/installer/transactions/change_reg_value_operation.h"

#include <algorithm>
#include <utility>

#include "base/logging.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/security/access_permissions.h"
#include "desktop/windows/installer/security/registry_object_name.h"
#include "desktop/windows/installer/transactions/create_reg_key_operation.h"
#include "desktop/windows/installer/transactions/transaction.h"

namespace installer {

namespace {

constexpr REGSAM kValueAccess = KEY_QUERY_VALUE | KEY_SET_VALUE;

std::vector<uint8_t> CopyOf(const void* data, DWORD size) {
  if (!data)
    return {};
  const auto* bytes = static_cast<const uint8_t*>(data);
  return std::vector<uint8_t>(bytes, bytes + size);
}

// How many NUL characters end a value of `type`: a string one, a list of
// strings two (the last string's and the list's).
size_t TerminatorCount(DWORD type) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return 1;
    case REG_MULTI_SZ:
      return 2;
    default:
      return 0;
  }
}

bool EndsWithNulCharacters(const std::vector<uint8_t>& data, size_t count) {
  const size_t bytes = count * sizeof(wchar_t);
  return data.size() >= bytes &&
         std::all_of(data.end() - bytes, data.end(),
                     [](uint8_t byte) { return byte == 0; });
}

// A string value written without its terminator (an empty one with no
// bytes at all) makes some readers run past it: `reg query` crashes on it
// under Wine. Complete what a caller left open, odd byte included.
std::vector<uint8_t> TerminatedData(DWORD type, std::vector<uint8_t> data) {
  const size_t count = TerminatorCount(type);
  if (count == 0)
    return data;
  if (data.size() % sizeof(wchar_t) != 0)
    data.push_back(0);
  while (!EndsWithNulCharacters(data, count)) {
    data.insert(data.end(), sizeof(wchar_t), 0);
  }
  return data;
}

}  // namespace

ChangeRegValueOperation::ChangeRegValueOperation(HKEY root,
                                                 const std::wstring& key_path,
                                                 const std::wstring& value_name,
                                                 const void* data,
                                                 DWORD type,
                                                 DWORD size,
                                                 REGSAM view)
    : root_(root),
      key_path_(key_path),
      value_name_(value_name),
      object_name_(GetRegistryObjectName(root, key_path)),
      new_type_(type),
      new_data_(TerminatedData(type, CopyOf(data, size))),
      view_(view) {}

ChangeRegValueOperation::~ChangeRegValueOperation() {
  if (saved_security_)
    RestoreSecurityInfo(saved_security_.get());
}

bool ChangeRegValueOperation::Do(Transaction* sub_operations) {
  VLOG(1) << "Attempting to change registry value at " << root_ << ": "
          << key_path_.c_str() << " - " << value_name_.c_str()
          << ". New Type:" << new_type_;
  LONG result = key_.Open(root_, key_path_.c_str(), kValueAccess | view_);
  if (result == ERROR_FILE_NOT_FOUND) {
    VLOG(1) << "Key does not exist,";
    if (new_type_ == kNoValue) {
      VLOG(1) << "but we are trying to remove the value, nothing to do.";
      return true;
    }
    VLOG(1) << "try to create it.";
    if (!sub_operations->ExecuteOperation(
            std::make_unique<CreateRegKeyOperation>(root_, key_path_, view_))) {
      return false;
    }
    result = key_.Open(root_, key_path_.c_str(), kValueAccess | view_);
  }
  if (!EnsureAccess(result) || !ReadOldValue())
    return false;
  // Before the change, so that a run that dies after it can be undone.
  if ((new_type_ != kNoValue || old_type_ != kNoValue) &&
      !RunJournal::Get()->RecordOldValue(root_, view_, key_path_, value_name_,
                                         old_type_, old_data_)) {
    return false;
  }
  return WriteNewValue();
}

void ChangeRegValueOperation::Rollback() {
  if (!done_)
    return;
  if (old_type_ == kNoValue) {
    ::RegDeleteValueW(key_.Handle(), value_name_.c_str());
  } else {
    ::RegSetValueExW(key_.Handle(), value_name_.c_str(), 0, old_type_,
                     old_data_.data(), static_cast<DWORD>(old_data_.size()));
  }
}

bool ChangeRegValueOperation::EnsureAccess(LONG open_result) {
  const int object_type = GetRegistryObjectType(view_);
  // An open with the very rights proves them; a check of the key's list
  // could refuse what the open granted (Wine shows a made-up list for a key
  // that has none, and writing it back when the grant is undone would then
  // lock the key).
  if (open_result == ERROR_SUCCESS)
    return true;
  if (open_result != ERROR_SUCCESS && open_result != ERROR_ACCESS_DENIED) {
    LOG(ERROR) << "Failed to open " << object_name_.c_str() << ": "
               << base::SystemErrorCodeToString(open_result);
    return false;
  }
  VLOG(1) << "We don't have enough permissions on the key.";
  if (saved_security_ ||
      !GrantAccessToCurrentUser(object_name_, object_type, kValueAccess,
                                /*keep_previous=*/true, &saved_security_)) {
    LOG(ERROR) << "Failed to obtain sufficient permissions on "
               << object_name_.c_str();
    return false;
  }
  const LONG result = key_.Open(root_, key_path_.c_str(), kValueAccess | view_);
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to open " << object_name_.c_str() << ": "
               << base::SystemErrorCodeToString(result);
    return false;
  }
  return true;
}

bool ChangeRegValueOperation::ReadOldValue() {
  DWORD size = 0;
  LONG result = ::RegQueryValueExW(key_.Handle(), value_name_.c_str(), nullptr,
                                   nullptr, nullptr, &size);
  if (result == ERROR_FILE_NOT_FOUND) {
    VLOG(1) << "The value doesn't already exist.";
    old_type_ = kNoValue;
    return true;
  }
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to read " << value_name_.c_str() << " from "
               << object_name_.c_str() << ": "
               << base::SystemErrorCodeToString(result);
    return false;
  }
  old_data_.resize(size);
  DWORD type = 0;
  result = ::RegQueryValueExW(key_.Handle(), value_name_.c_str(), nullptr,
                              &type, old_data_.data(), &size);
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to read " << value_name_.c_str() << " from "
               << object_name_.c_str() << " (but we succeeded before).: "
               << base::SystemErrorCodeToString(result);
    return false;
  }
  old_data_.resize(size);
  old_type_ = type;
  VLOG(1) << "Value read successfully.";
  return true;
}

bool ChangeRegValueOperation::WriteNewValue() {
  if (new_type_ != kNoValue) {
    const LONG result = ::RegSetValueExW(key_.Handle(), value_name_.c_str(), 0,
                                         new_type_, new_data_.data(),
                                         static_cast<DWORD>(new_data_.size()));
    if (result != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed writing " << value_name_.c_str() << " to "
                 << object_name_.c_str() << ": "
                 << base::SystemErrorCodeToString(result);
      return false;
    }
  } else {
    if (old_type_ == kNoValue) {
      VLOG(1) << "We are supposed to remove the value. Nothing to do.";
      return true;
    }
    const LONG result = ::RegDeleteValueW(key_.Handle(), value_name_.c_str());
    if (result != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed to remove " << value_name_.c_str() << " from "
                 << object_name_.c_str() << ": "
                 << base::SystemErrorCodeToString(result);
      return false;
    }
  }
  VLOG(1) << "Value changed successfully.";
  done_ = true;
  return true;
}

std::unique_ptr<Operation> MakeChangeRegValueOperation(
    HKEY root,
    const std::wstring& key_path,
    const std::wstring& value_name,
    const void* data,
    DWORD size,
    DWORD type,
    DWORD /*flags*/,
    REGSAM view) {
  return std::make_unique<ChangeRegValueOperation>(
      root, key_path, value_name, data,
      data ? type : ChangeRegValueOperation::kNoValue, size, view);
}

}  // namespace installer
