#include "desktop/windows/installer/registry/registry_entry.h"

#include <cstring>
#include <limits>
#include <vector>

#include "base/features/feature_tables.h"
#include "base/logging.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/registry/placeholder_resolver.h"
#include "desktop/windows/installer/registry/registry_data.h"
#include "desktop/windows/installer/transactions/change_reg_value_operation.h"
#include "desktop/windows/installer/transactions/delete_reg_key_operation.h"

namespace installer {
namespace {

std::vector<uint8_t> BytesOf(const void* data, size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  return std::vector<uint8_t>(bytes, bytes + size);
}

}  // namespace

RegistryEntry::RegistryEntry(const RegistryEntryDescription& description,
                             PlaceholderResolver* resolver)
    : description_(description), resolver_(resolver) {}

bool RegistryEntry::CreateOperation(HKEY root,
                                    std::unique_ptr<Operation>* operation) {
  operation->reset();
  if (!AppliesTo(root))
    return true;
  const std::wstring key = ExpandPlaceholders(description_.key);
  if (description_.kind == kDeleteKey) {
    *operation =
        std::make_unique<DeleteRegKeyOperation>(root, key, description_.view);
    return true;
  }

  std::vector<uint8_t> data;
  if (!BuildData(&data))
    return false;
  const std::wstring name = ExpandPlaceholders(description_.value_name);
  const uint32_t type = description_.kind == kRemoveValue
                            ? ChangeRegValueOperation::kNoValue
                            : static_cast<uint32_t>(description_.kind);
  const uint8_t* bytes = data.empty() ? nullptr : data.data();
  const uint32_t size = static_cast<uint32_t>(data.size());
  // Not MakeChangeRegValueOperation: it takes missing data for a removal,
  // and a REG_NONE value has none.
  *operation = std::make_unique<ChangeRegValueOperation>(
      root, key, name, bytes, type, size, description_.view);
  RegistryData* record = resolver_->GetRegistryRecord(root);
  if (record && description_.kind != kRemoveValue) {
    // The view goes with the key: the Uninstall entry lives in the 32-bit
    // view, and removing it from the other view would miss it.
    AddRegistryValue(record, key, name, bytes, type, size,
                     description_.clean_depth, description_.view);
  }
  return true;
}

std::wstring RegistryEntry::ExpandPlaceholders(const wchar_t* text) const {
  if (!text)
    return std::wstring();
  const std::wstring_view source(text);
  std::wstring expanded;
  size_t position = 0;
  for (;;) {
    const size_t open = source.find(L'{', position);
    const size_t close = open == std::wstring_view::npos
                             ? std::wstring_view::npos
                             : source.find(L'}', open + 1);
    if (close == std::wstring_view::npos)
      break;
    expanded.append(source.substr(position, open - position));
    // A value may hold braces of its own (a folder named "{x}"): it is
    // taken as it stands and the scan goes on after the placeholder.
    expanded += resolver_->Resolve(
        std::wstring(source.substr(open + 1, close - open - 1)));
    position = close + 1;
  }
  expanded.append(source.substr(position));
  return expanded;
}

bool RegistryEntry::BuildData(std::vector<uint8_t>* data) const {
  switch (description_.kind) {
    case REG_DWORD: {
      const uint32_t* number = std::get_if<uint32_t>(&description_.data);
      CHECK(number);
      *data = BytesOf(number, sizeof(*number));
      break;
    }
    case kRemoveValue:
    case REG_NONE:
      break;
    case REG_BINARY: {
      const char* const* text = std::get_if<const char*>(&description_.data);
      CHECK(text && *text);
      const size_t length = std::strlen(*text);
      CHECK(length <= std::numeric_limits<uint32_t>::max());
      *data = BytesOf(*text, length);
      break;
    }
    case REG_SZ:
    case REG_EXPAND_SZ: {
      const wchar_t* const* text =
          std::get_if<const wchar_t*>(&description_.data);
      const std::wstring expanded = ExpandPlaceholders(text ? *text : nullptr);
      // Even an empty text keeps its NUL: a string value of no bytes makes
      // readers run past it.
      *data =
          BytesOf(expanded.c_str(), (expanded.size() + 1) * sizeof(wchar_t));
      break;
    }
    default:
      return false;
  }
  return true;
}

bool RegistryEntry::AppliesTo(HKEY root) const {
  if (base::win::GetWindowsVersion() < description_.min_windows_version)
    return false;
  if (description_.root == RootFilter::kLocalMachineOnly &&
      root != HKEY_LOCAL_MACHINE) {
    return false;
  }
  if (description_.root == RootFilter::kCurrentUserOnly &&
      root != HKEY_CURRENT_USER) {
    return false;
  }
  return base::GetReleaseChannel() >= description_.min_channel;
}

}  // namespace installer
