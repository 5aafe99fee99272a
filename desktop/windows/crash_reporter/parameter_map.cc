#include "desktop/windows/crash_reporter/parameter_map.h"

#include <cwchar>
#include <limits>

#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"

namespace installer {

namespace {

constexpr wchar_t kChunkSeparator = L'-';
constexpr wchar_t kModuleFieldSeparator[] = L":";
constexpr wchar_t kModuleEnd[] = L"::";

using ChunkMap = std::map<std::wstring, std::map<uint64_t, std::wstring>>;

bool IsNameCharacter(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
         (c >= L'0' && c <= L'9') || c == L'.' || c == L'-' || c == L'_';
}

// The entry's name, or false when it is not a valid one.
bool ReadName(const DumpInfoEntry& entry, std::wstring* name) {
  const size_t length = wcsnlen(entry.name, DumpInfoEntry::kTextUnits);
  if (length == 0 || length > DumpInfoEntry::kMaxTextLength)
    return false;
  for (size_t i = 0; i < length; ++i) {
    if (!IsNameCharacter(entry.name[i]))
      return false;
  }
  name->assign(entry.name, length);
  return true;
}

bool ReadValue(const DumpInfoEntry& entry, std::wstring* value) {
  const size_t length = wcsnlen(entry.value, DumpInfoEntry::kTextUnits);
  if (length == DumpInfoEntry::kTextUnits)
    return false;
  value->assign(entry.value, length);
  return true;
}

// "name-12" is chunk 12 of "name".
bool SplitChunkName(const std::wstring& name,
                    std::wstring* base_name,
                    uint64_t* index) {
  const size_t separator = name.rfind(kChunkSeparator);
  if (separator == std::wstring::npos || separator + 1 == name.size())
    return false;
  uint64_t number = 0;
  for (size_t i = separator + 1; i < name.size(); ++i) {
    const wchar_t c = name[i];
    if (c < L'0' || c > L'9')
      return false;
    const uint64_t digit = static_cast<uint64_t>(c - L'0');
    if (number > (std::numeric_limits<uint64_t>::max() - digit) / 10)
      return false;
    number = number * 10 + digit;
  }
  *base_name = name.substr(0, separator);
  *index = number;
  return true;
}

bool ParseHex(const std::wstring& text, uint64_t* value) {
  return !text.empty() &&
         base::HexStringToUInt64(base::WideToUtf8(text), value);
}

}  // namespace

ParameterMap::ParameterMap() = default;

ParameterMap::~ParameterMap() = default;

// static
ParameterMap ParameterMap::FromCustomInfo(const DumpInfoEntry* entries,
                                          size_t count) {
  ParameterMap map;
  ChunkMap chunks;
  for (size_t i = 0; i < count; ++i) {
    std::wstring name;
    std::wstring value;
    if (!ReadName(entries[i], &name) || !ReadValue(entries[i], &value))
      continue;
    std::wstring base_name;
    uint64_t index = 0;
    if (SplitChunkName(name, &base_name, &index)) {
      if (!map.entries_.count(base_name))
        chunks[base_name].emplace(index, value);
      continue;
    }
    if (!chunks.count(name))
      map.entries_.emplace(name, value);
  }
  for (const auto& [base_name, pieces] : chunks) {
    std::wstring joined;
    for (const auto& [index, piece] : pieces)
      joined += piece;
    map.entries_.emplace(base_name, joined);
  }
  return map;
}

const std::wstring& ParameterMap::Get(const std::wstring& name) const {
  static const std::wstring kEmpty;
  auto entry = entries_.find(name);
  return entry == entries_.end() ? kEmpty : entry->second;
}

std::vector<FallbackModule> ParseFallbackModules(const std::wstring& value) {
  std::vector<FallbackModule> modules;
  size_t position = 0;
  for (;;) {
    const size_t name_end = value.find(kModuleFieldSeparator, position);
    if (name_end == std::wstring::npos)
      break;
    const size_t base_end = value.find(kModuleFieldSeparator, name_end + 1);
    if (base_end == std::wstring::npos)
      break;
    const size_t size_end = value.find(kModuleFieldSeparator, base_end + 1);
    if (size_end == std::wstring::npos)
      break;
    const size_t path_end = value.find(kModuleEnd, size_end + 1);
    if (path_end == std::wstring::npos)
      break;
    FallbackModule module;
    module.name = value.substr(position, name_end - position);
    module.path = value.substr(size_end + 1, path_end - size_end - 1);
    if (!ParseHex(value.substr(name_end + 1, base_end - name_end - 1),
                  &module.base) ||
        !ParseHex(value.substr(base_end + 1, size_end - base_end - 1),
                  &module.size)) {
      break;
    }
    modules.push_back(module);
    position = path_end + 2;
  }
  return modules;
}

}  // namespace installer
