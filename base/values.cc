#include "base/values.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "base/strings/utf_string_conversions.h"

namespace base {

namespace {

double FiniteOrZero(double value) {
  return std::isfinite(value) ? value : 0.0;
}

size_t FindDot(StringSlice text, size_t from = 0) {
  if (from >= text.size())
    return StringSlice::npos;
  const void* dot = std::memchr(text.data() + from, '.',
                                static_cast<size_t>(text.size() - from));
  return dot ? static_cast<size_t>(static_cast<const char*>(dot) - text.data())
             : StringSlice::npos;
}

// Dictionary key order: byte-wise, a prefix first.
bool KeyBefore(StringSlice a, StringSlice b) {
  const size_t common = static_cast<size_t>(std::min(a.size(), b.size()));
  const int order = common ? std::memcmp(a.data(), b.data(), common) : 0;
  return order < 0 || (order == 0 && a.size() < b.size());
}

// The first entry whose key is not before `key`.
template <typename Entries>
auto LowerBound(Entries& entries, StringSlice key) {
  return std::lower_bound(entries.begin(), entries.end(), key,
                          [](const auto& entry, StringSlice wanted) {
                            return KeyBefore(entry.first, wanted);
                          });
}

size_t FindLastDot(StringSlice text) {
  for (size_t i = text.size(); i > 0; --i) {
    if (text[i - 1] == '.')
      return i - 1;
  }
  return StringSlice::npos;
}

}  // namespace

void DeleteValueOwner::operator()(Value* value) const {
  // The containers are deleted as what they were made as.
  if (!value)
    return;
  switch (value->type()) {
    case Value::Type::kDictionary:
      delete static_cast<DictionaryValue*>(value);
      return;
    case Value::Type::kList:
      delete static_cast<ListValue*>(value);
      return;
    default:
      delete value;
      return;
  }
}

ValueOwner MakeBooleanValue(bool value) {
  return MakeValue<Value>(value);
}

Value::Value() : type_(Type::kNone), integer_(0) {}

Value::Value(bool value) : type_(Type::kBoolean), boolean_(value) {}

Value::Value(int32_t value) : type_(Type::kInteger), integer_(value) {}

Value::Value(double value)
    : type_(Type::kDouble), double_(FiniteOrZero(value)) {}

Value::Value(const char* utf8) : Value(StringSlice(utf8)) {}

Value::Value(const std::string& utf8) : type_(Type::kString), string_(utf8) {}

Value::Value(std::string&& utf8)
    : type_(Type::kString), string_(std::move(utf8)) {}

Value::Value(StringSlice utf8)
    : type_(Type::kString), string_(utf8.data(), utf8.size()) {}

Value::Value(const wchar_t* wide) : Value(WideStringSlice(wide)) {}

Value::Value(WideStringSlice wide)
    : type_(Type::kString), string_(WidePieceToUtf8(wide)) {}

Value::Value(const std::vector<uint8_t>& bytes)
    : type_(Type::kBinary), binary_(bytes) {}

Value::Value(Type container_type) : type_(container_type), integer_(0) {
  if (container_type == Type::kDictionary)
    std::construct_at(&dictionary_, std::make_unique<Map>());
  else
    std::construct_at(&list_);
}

Value::~Value() {
  DestroyContents();
}

void Value::DestroyContents() {
  switch (type_) {
    case Type::kString:
      std::destroy_at(&string_);
      break;
    case Type::kBinary:
      std::destroy_at(&binary_);
      break;
    case Type::kDictionary:
      std::destroy_at(&dictionary_);
      break;
    case Type::kList:
      std::destroy_at(&list_);
      break;
    default:
      break;
  }
  type_ = Type::kNone;
}

bool Value::GetAsBoolean(bool* out) const {
  if (type_ != Type::kBoolean)
    return false;
  if (out)
    *out = boolean_;
  return true;
}

bool Value::GetAsInteger(int32_t* out) const {
  if (type_ != Type::kInteger)
    return false;
  if (out)
    *out = integer_;
  return true;
}

bool Value::GetAsDouble(double* out) const {
  if (type_ != Type::kDouble)
    return false;
  if (out)
    *out = double_;
  return true;
}

bool Value::GetAsString(std::string* out) const {
  if (type_ != Type::kString)
    return false;
  if (out)
    *out = string_;
  return true;
}

bool Value::GetAsWideString(std::wstring* out) const {
  if (type_ != Type::kString)
    return false;
  if (out)
    *out = Utf8ToWide(string_);
  return true;
}

bool Value::GetAsStringSlice(StringSlice* out) const {
  if (type_ != Type::kString)
    return false;
  if (out)
    *out = string_;
  return true;
}

bool Value::GetAsList(ListValue** out) {
  if (type_ != Type::kList)
    return false;
  if (out)
    *out = static_cast<ListValue*>(this);
  return true;
}

bool Value::GetAsList(const ListValue** out) const {
  if (type_ != Type::kList)
    return false;
  if (out)
    *out = static_cast<const ListValue*>(this);
  return true;
}

bool Value::GetAsDictionary(DictionaryValue** out) {
  if (type_ != Type::kDictionary)
    return false;
  if (out)
    *out = static_cast<DictionaryValue*>(this);
  return true;
}

bool Value::GetAsDictionary(const DictionaryValue** out) const {
  if (type_ != Type::kDictionary)
    return false;
  if (out)
    *out = static_cast<const DictionaryValue*>(this);
  return true;
}

Value* Value::DeepCopy() const {
  return DeepCopyOwned().release();
}

ValueOwner Value::DeepCopyOwned() const {
  switch (type_) {
    case Type::kNone:
      return MakeValue<Value>();
    case Type::kBoolean:
      return MakeValue<Value>(boolean_);
    case Type::kInteger:
      return MakeValue<Value>(integer_);
    case Type::kDouble:
      return MakeValue<Value>(double_);
    case Type::kString:
      return MakeValue<Value>(string_);
    case Type::kBinary:
      return MakeValue<Value>(binary_);
    case Type::kDictionary: {
      DictionaryValueOwner copy = MakeValue<DictionaryValue>();
      for (const auto& [key, child] : map())
        copy->SetByKey(key, child->DeepCopyOwned());
      return copy;
    }
    case Type::kList: {
      ListValueOwner copy = MakeValue<ListValue>();
      copy->list().reserve(list_.size());
      for (const ValueOwner& child : list_)
        copy->Append(child->DeepCopyOwned());
      return copy;
    }
  }
  return nullptr;
}

bool Value::Equals(const Value& other) const {
  return type_ == other.type_ && ContentsEqual(other);
}

bool Value::ContentsEqual(const Value& other) const {
  switch (type_) {
    case Type::kNone:
      return true;
    case Type::kBoolean:
      return boolean_ == other.boolean_;
    case Type::kInteger:
      return integer_ == other.integer_;
    case Type::kDouble:
      return double_ == other.double_;
    case Type::kString:
      return string_ == other.string_;
    case Type::kBinary:
      return binary_ == other.binary_;
    case Type::kDictionary:
      return std::equal(map().begin(), map().end(), other.map().begin(),
                        other.map().end(), [](const auto& a, const auto& b) {
                          return a.first == b.first &&
                                 a.second->Equals(*b.second);
                        });
    case Type::kList:
      return std::equal(list_.begin(), list_.end(), other.list_.begin(),
                        other.list_.end(),
                        [](const ValueOwner& a, const ValueOwner& b) {
                          return a->Equals(*b);
                        });
  }
  return false;
}

// DictionaryValue

DictionaryValue::DictionaryValue() : Value(Type::kDictionary) {}

// static
DictionaryValueOwner DictionaryValue::From(ValueOwner value) {
  if (!value || value->type() != Type::kDictionary)
    return nullptr;
  return DictionaryValueOwner(static_cast<DictionaryValue*>(value.release()));
}

DictionaryValue* DictionaryValue::WalkPath(StringSlice path,
                                           bool create,
                                           StringSlice* leaf) {
  DictionaryValue* current = this;
  size_t start = 0;
  for (size_t dot; (dot = FindDot(path, start)) != StringSlice::npos;
       start = dot + 1) {
    const StringSlice key = path.Substr(start, dot - start);
    Value* child = nullptr;
    DictionaryValue* next = nullptr;
    if (current->GetByKey(key, &child) && child->GetAsDictionary(&next)) {
      current = next;
      continue;
    }
    if (!create)
      return nullptr;
    DictionaryValueOwner fresh = MakeValue<DictionaryValue>();
    next = fresh.get();
    current->SetByKey(key, std::move(fresh));
    current = next;
  }
  *leaf = path.Substr(start);
  return current;
}

void DictionaryValue::Set(StringSlice path, ValueOwner value) {
  if (!value)
    return;
  StringSlice leaf;
  WalkPath(path, /*create=*/true, &leaf)->SetByKey(leaf, std::move(value));
}

void DictionaryValue::SetOwned(StringSlice path, Value* value) {
  Set(path, ValueOwner(value));
}

void DictionaryValue::SetInteger(StringSlice path, int32_t value) {
  Set(path, MakeValue<Value>(value));
}

void DictionaryValue::SetString(StringSlice path, StringSlice value) {
  Set(path, MakeValue<Value>(value));
}

bool DictionaryValue::Get(StringSlice path, Value** out) {
  StringSlice leaf;
  DictionaryValue* holder = WalkPath(path, /*create=*/false, &leaf);
  return holder && holder->GetByKey(leaf, out);
}

bool DictionaryValue::Get(StringSlice path, const Value** out) const {
  Value* found = nullptr;
  if (!const_cast<DictionaryValue*>(this)->Get(path, &found))
    return false;
  if (out)
    *out = found;
  return true;
}

bool DictionaryValue::GetBoolean(StringSlice path, bool* out) const {
  const Value* value = nullptr;
  return Get(path, &value) && value->GetAsBoolean(out);
}

bool DictionaryValue::GetInteger(StringSlice path, int32_t* out) const {
  const Value* value = nullptr;
  return Get(path, &value) && value->GetAsInteger(out);
}

bool DictionaryValue::GetString(StringSlice path, std::string* out) const {
  const Value* value = nullptr;
  return Get(path, &value) && value->GetAsString(out);
}

bool DictionaryValue::GetWideString(StringSlice path, std::wstring* out) const {
  const Value* value = nullptr;
  return Get(path, &value) && value->GetAsWideString(out);
}

bool DictionaryValue::GetList(StringSlice path, ListValue** out) {
  Value* value = nullptr;
  return Get(path, &value) && value->GetAsList(out);
}

bool DictionaryValue::GetList(StringSlice path, const ListValue** out) const {
  const Value* value = nullptr;
  return Get(path, &value) && value->GetAsList(out);
}

bool DictionaryValue::GetAsciiString(StringSlice path, std::string* out) const {
  std::string text;
  if (!GetString(path, &text))
    return false;
  const bool ascii = std::all_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x80;
  });
  if (!ascii)
    return false;
  if (out)
    *out = std::move(text);
  return true;
}

bool DictionaryValue::Remove(StringSlice path, ValueOwner* out) {
  const size_t dot = FindLastDot(path);
  if (dot == StringSlice::npos)
    return RemoveByKey(path, out);
  Value* holder = nullptr;
  DictionaryValue* dictionary = nullptr;
  return Get(path.Substr(0, dot), &holder) &&
         holder->GetAsDictionary(&dictionary) &&
         dictionary->RemoveByKey(path.Substr(dot + 1), out);
}

bool DictionaryValue::RemovePath(StringSlice path, ValueOwner* out) {
  const size_t dot = FindDot(path);
  if (dot == StringSlice::npos)
    return RemoveByKey(path, out);
  const StringSlice key = path.Substr(0, dot);
  Value* child = nullptr;
  DictionaryValue* dictionary = nullptr;
  if (!GetByKey(key, &child) || !child->GetAsDictionary(&dictionary) ||
      !dictionary->RemovePath(path.Substr(dot + 1), out)) {
    return false;
  }
  if (dictionary->map().empty())
    RemoveByKey(key, nullptr);
  return true;
}

void DictionaryValue::SetByKey(StringSlice key, ValueOwner value) {
  if (!value)
    return;
  Map& entries = map();
  const auto at = LowerBound(entries, key);
  if (at != entries.end() && !KeyBefore(key, at->first))
    at->second = std::move(value);
  else
    entries.emplace(at, key.AsString(), std::move(value));
}

DictionaryValue::Map::iterator DictionaryValue::Find(StringSlice key) {
  const auto at = LowerBound(map(), key);
  return at != map().end() && !KeyBefore(key, at->first) ? at : map().end();
}

DictionaryValue::Map::const_iterator DictionaryValue::Find(
    StringSlice key) const {
  return const_cast<DictionaryValue*>(this)->Find(key);
}

void DictionaryValue::AdoptEntries(Map::iterator first, Map::iterator last) {
  const auto by_key = [](const Entry& a, const Entry& b) {
    return KeyBefore(a.first, b.first);
  };
  // Objects are mostly small, and often sorted already (this library writes
  // them so): a stable insertion sort needs no buffer and is then linear.
  constexpr ptrdiff_t kInsertionSortLimit = 32;
  if (last - first > kInsertionSortLimit) {
    std::stable_sort(first, last, by_key);
  } else {
    for (auto it = first + (first != last); it < last; ++it) {
      for (auto at = it; at != first && by_key(*at, *(at - 1)); --at)
        std::iter_swap(at, at - 1);
    }
  }
  Map& entries = map();
  entries.clear();
  entries.reserve(static_cast<size_t>(last - first));
  for (auto it = first; it != last; ++it) {
    const bool superseded = it + 1 != last && !by_key(*it, *(it + 1));
    if (!superseded)
      entries.push_back(std::move(*it));
  }
}

void DictionaryValue::SetDoubleByKey(StringSlice key, double value) {
  SetByKey(key, MakeValue<Value>(value));
}

void DictionaryValue::SetStringByKey(StringSlice key, StringSlice value) {
  SetByKey(key, MakeValue<Value>(value));
}

bool DictionaryValue::GetByKey(StringSlice key, Value** out) {
  const auto found = Find(key);
  if (found == map().end())
    return false;
  if (out)
    *out = found->second.get();
  return true;
}

bool DictionaryValue::GetByKey(StringSlice key, const Value** out) const {
  const auto found = Find(key);
  if (found == map().end())
    return false;
  if (out)
    *out = found->second.get();
  return true;
}

bool DictionaryValue::RemoveByKey(StringSlice key, ValueOwner* out) {
  const auto found = Find(key);
  if (found == map().end())
    return false;
  ValueOwner removed = std::move(found->second);
  map().erase(found);
  if (out)
    *out = std::move(removed);
  return true;
}

DictionaryValue::Iterator::Iterator(const DictionaryValue& dictionary)
    : current_(dictionary.map().begin()), end_(dictionary.map().end()) {}

// ListValue

ListValue::ListValue() : Value(Type::kList) {}

bool ListValue::Set(size_t index, ValueOwner value) {
  if (!value)
    return false;
  List& children = list();
  if (index < children.size()) {
    children[index] = std::move(value);
    return true;
  }
  while (children.size() < index)
    children.push_back(MakeValue<Value>());
  children.push_back(std::move(value));
  return true;
}

void ListValue::Append(ValueOwner value) {
  if (value)
    list().push_back(std::move(value));
}

void ListValue::AppendOwned(Value* value) {
  Append(ValueOwner(value));
}

void ListValue::AppendBoolean(bool value) {
  Append(MakeValue<Value>(value));
}

void ListValue::AppendInteger(int32_t value) {
  Append(MakeValue<Value>(value));
}

void ListValue::AppendDouble(double value) {
  Append(MakeValue<Value>(value));
}

void ListValue::AppendString(StringSlice value) {
  Append(MakeValue<Value>(value));
}

bool ListValue::Get(size_t index, const Value** out) const {
  if (index >= list().size())
    return false;
  if (out)
    *out = list()[index].get();
  return true;
}

}  // namespace base
