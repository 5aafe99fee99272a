#ifndef BASE_VALUES_H_
#define BASE_VALUES_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/strings/string_slice.h"

namespace base {

class Value;
class DictionaryValue;
class JsonParser;
class ListValue;

// The deleter of every owning value pointer: destroys the whole subtree.
struct DeleteValueOwner {
  void operator()(Value* value) const;
};

using ValueOwner = std::unique_ptr<Value, DeleteValueOwner>;
using DictionaryValueOwner = std::unique_ptr<DictionaryValue, DeleteValueOwner>;
using ListValueOwner = std::unique_ptr<ListValue, DeleteValueOwner>;

// A new heap value of type T (Value, DictionaryValue or ListValue).
template <typename T, typename... Args>
std::unique_ptr<T, DeleteValueOwner> MakeValue(Args&&... args) {
  return std::unique_ptr<T, DeleteValueOwner>(
      new T(std::forward<Args>(args)...));
}

ValueOwner MakeBooleanValue(bool value);

// The typed value behind JSON documents and preferences: a tagged union
// without virtual operations. DictionaryValue and ListValue are this same
// record with tags 6 and 7 and only add operations. A double is always
// finite: every way of making one stores 0.0 for infinities and NaN, so a
// tree can always be written as JSON. One thread at a time.
class Value {
 public:
  enum class Type : int32_t {
    kNone = 0,
    kBoolean = 1,
    kInteger = 2,
    kDouble = 3,
    kString = 4,
    kBinary = 5,
    kDictionary = 6,
    kList = 7,
  };

  Value();
  explicit Value(bool value);
  explicit Value(int32_t value);
  explicit Value(double value);
  explicit Value(const char* utf8);
  explicit Value(const std::string& utf8);
  explicit Value(std::string&& utf8);
  explicit Value(StringSlice utf8);
  explicit Value(const wchar_t* wide);
  explicit Value(WideStringSlice wide);
  explicit Value(const std::vector<uint8_t>& bytes);
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  ~Value();

  Type type() const { return type_; }

  // True when the tag matches; `out` may be null, and is left untouched when
  // the tag differs.
  bool GetAsBoolean(bool* out) const;
  bool GetAsInteger(int32_t* out) const;
  bool GetAsDouble(double* out) const;
  bool GetAsString(std::string* out) const;
  bool GetAsWideString(std::wstring* out) const;
  // A view of the string without copying it; valid while the value lives.
  bool GetAsStringSlice(StringSlice* out) const;
  bool GetAsList(ListValue** out);
  bool GetAsList(const ListValue** out) const;
  bool GetAsDictionary(DictionaryValue** out);
  bool GetAsDictionary(const DictionaryValue** out) const;

  // The caller owns the copy.
  [[nodiscard]] Value* DeepCopy() const;
  ValueOwner DeepCopyOwned() const;

  // Deep comparison; an integer never equals a double.
  bool Equals(const Value& other) const;

 protected:
  // A flat ordered map: entries sorted by key bytes, a prefix first, keys
  // unique. Children are records of their own, so pointers to them survive
  // insertions.
  using Entry = std::pair<std::string, ValueOwner>;
  using Map = std::vector<Entry>;
  using List = std::vector<ValueOwner>;

  explicit Value(Type container_type);

  Map& map() { return *dictionary_; }
  const Map& map() const { return *dictionary_; }
  List& list() { return list_; }
  const List& list() const { return list_; }

 private:
  void DestroyContents();
  bool ContentsEqual(const Value& other) const;

  Type type_;
  union {
    bool boolean_;
    int32_t integer_;
    double double_;
    std::string string_;
    std::vector<uint8_t> binary_;
    std::unique_ptr<Map> dictionary_;
    List list_;
  };
};

// Keyed access. Paths are keys of nested dictionaries joined by "."; the
// ByKey operations take the key as it stands, dots included.
class DictionaryValue : public Value {
 public:
  class Iterator;

  DictionaryValue();

  // Null unless `value` is a dictionary; anything else is destroyed.
  static DictionaryValueOwner From(ValueOwner value);

  // Creates the dictionaries along the path, replacing whatever non-
  // dictionary stands in the way. A null value stores nothing.
  void Set(StringSlice path, ValueOwner value);
  void SetOwned(StringSlice path, Value* value);
  void SetInteger(StringSlice path, int32_t value);
  void SetString(StringSlice path, StringSlice value);

  // `out` is borrowed and may be null. False when a component is missing or
  // is not a dictionary, or when the tag of the value differs.
  bool Get(StringSlice path, Value** out);
  bool Get(StringSlice path, const Value** out) const;
  bool GetBoolean(StringSlice path, bool* out) const;
  bool GetInteger(StringSlice path, int32_t* out) const;
  bool GetString(StringSlice path, std::string* out) const;
  bool GetWideString(StringSlice path, std::wstring* out) const;
  bool GetList(StringSlice path, ListValue** out);
  bool GetList(StringSlice path, const ListValue** out) const;
  // Only a string made of bytes below 0x80.
  bool GetAsciiString(StringSlice path, std::string* out) const;

  // The removed value goes to `out` when given, else it is destroyed.
  bool Remove(StringSlice path, ValueOwner* out);
  // Like Remove, then drops every dictionary on the path left empty.
  bool RemovePath(StringSlice path, ValueOwner* out);

  void SetByKey(StringSlice key, ValueOwner value);
  void SetDoubleByKey(StringSlice key, double value);
  void SetStringByKey(StringSlice key, StringSlice value);
  bool GetByKey(StringSlice key, Value** out);
  bool GetByKey(StringSlice key, const Value** out) const;
  bool RemoveByKey(StringSlice key, ValueOwner* out);

 private:
  // Builds each parsed object's entries in one go.
  friend class JsonParser;

  // The dictionary that holds the path's last component, made on the way
  // when `create` is set, and that component.
  DictionaryValue* WalkPath(StringSlice path, bool create, StringSlice* leaf);
  Map::iterator Find(StringSlice key);
  Map::const_iterator Find(StringSlice key) const;
  // Takes over entries in the order they were read, replacing the contents;
  // of equal keys the last one wins.
  void AdoptEntries(Map::iterator first, Map::iterator last);
};

// Walks a dictionary in key order. The dictionary must not change meanwhile.
class DictionaryValue::Iterator {
 public:
  explicit Iterator(const DictionaryValue& dictionary);

  bool IsAtEnd() const { return current_ == end_; }
  void Advance() { ++current_; }
  const std::string& key() const { return current_->first; }
  const Value& value() const { return *current_->second; }

 private:
  Map::const_iterator current_;
  Map::const_iterator end_;
};

// Indexed access. Never holds a null child.
class ListValue : public Value {
 public:
  ListValue();

  // False for a null value. Past the end, the gap is filled with none values.
  bool Set(size_t index, ValueOwner value);
  // A null value appends nothing.
  void Append(ValueOwner value);
  void AppendOwned(Value* value);
  void AppendBoolean(bool value);
  void AppendInteger(int32_t value);
  void AppendDouble(double value);
  void AppendString(StringSlice value);

  size_t GetSize() const { return list().size(); }
  // `out` is borrowed; false past the end.
  bool Get(size_t index, const Value** out) const;

 private:
  // Moves each parsed element in once, into a buffer of the final size.
  friend class JsonParser;
};

}  // namespace base

#endif  // BASE_VALUES_H_
