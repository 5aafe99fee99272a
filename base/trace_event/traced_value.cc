#include "base/trace_event/traced_value.h"

#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "base/json/json_writer.h"
#include "base/logging.h"
#include "base/trace_event/trace_event_memory_overhead.h"

namespace base {

namespace {

// Item tags; each is a stream field of its own.
constexpr char kBeginDictionary = '{';
constexpr char kEndDictionary = '}';
constexpr char kBeginArray = '[';
constexpr char kEndArray = ']';
constexpr char kBoolean = 'b';
constexpr char kInteger = 'i';
constexpr char kDouble = 'd';
constexpr char kString = 's';
constexpr char kStaticName = '*';

constexpr size_t kHeaderBytes = 4;
constexpr size_t kCell = 4;

// Walks the payload of the stream. The stream is only ever written by this
// class, so a value cut short is a broken invariant, not bad input.
class StreamReader {
 public:
  explicit StreamReader(const BinaryWriter& stream)
      : data_(stream.payload()), size_(stream.payload_size()) {}

  bool AtEnd() const { return position_ + kCell > size_; }
  char ReadTag() { return static_cast<char>(*Take(1)); }
  bool ReadBoolean() { return *Take(1) != 0; }
  int ReadInteger() { return Read<int32_t>(); }
  double ReadDouble() { return Read<double>(); }
  const char* ReadPointer() { return Read<const char*>(); }
  std::string ReadString() {
    const uint32_t length = Read<uint32_t>();
    const uint8_t* bytes = Take(length);
    return std::string(reinterpret_cast<const char*>(bytes), length);
  }
  // A key: a static name by address, or a copied string.
  std::string ReadName() {
    const char tag = ReadTag();
    if (tag == kStaticName)
      return ReadPointer();
    CHECK(tag == kString) << "traced value: a name was expected";
    return ReadString();
  }

 private:
  template <class T>
  T Read() {
    T value;
    std::memcpy(&value, Take(sizeof(T)), sizeof(T));
    return value;
  }
  // The next `size` bytes; the position moves past their padding.
  const uint8_t* Take(size_t size) {
    const size_t padded = (size + kCell - 1) / kCell * kCell;
    CHECK(padded <= size_ - position_) << "traced value: stream cut short";
    const uint8_t* bytes = data_ + position_;
    position_ += padded;
    return bytes;
  }

  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

// Fills a value tree from the stream: the current container and the ones
// that enclose it.
class TreeBuilder {
 public:
  explicit TreeBuilder(DictionaryValue* root) : current_(root) {}

  void Build(StreamReader& reader) {
    while (!reader.AtEnd()) {
      switch (const char tag = reader.ReadTag()) {
        case kBeginDictionary:
          Open(MakeValue<DictionaryValue>(), reader);
          break;
        case kBeginArray:
          Open(MakeValue<ListValue>(), reader);
          break;
        case kEndDictionary:
        case kEndArray:
          CHECK(!enclosing_.empty()) << "traced value: unbalanced end";
          current_ = enclosing_.back();
          enclosing_.pop_back();
          break;
        case kBoolean:
          Store(MakeBooleanValue(reader.ReadBoolean()), reader);
          break;
        case kInteger:
          Store(MakeValue<Value>(static_cast<int32_t>(reader.ReadInteger())),
                reader);
          break;
        case kDouble:
          Store(MakeValue<Value>(reader.ReadDouble()), reader);
          break;
        case kString:
          Store(MakeValue<Value>(reader.ReadString()), reader);
          break;
        default:
          (void)tag;  // Not an item: skipped.
          break;
      }
    }
  }

 private:
  template <class T>
  void Open(std::unique_ptr<T, DeleteValueOwner> container,
            StreamReader& reader) {
    Value* opened = container.get();
    Store(ValueOwner(container.release()), reader);
    enclosing_.push_back(current_);
    current_ = opened;
  }

  // Inside a dictionary the value's name follows it (for a container: right
  // after its opening tag, which is where the reader stands then).
  void Store(ValueOwner value, StreamReader& reader) {
    DictionaryValue* dictionary = nullptr;
    if (current_->GetAsDictionary(&dictionary)) {
      dictionary->SetByKey(reader.ReadName(), std::move(value));
      return;
    }
    ListValue* list = nullptr;
    CHECK(current_->GetAsList(&list)) << "traced value: no container";
    list->Append(std::move(value));
  }

  Value* current_;
  std::vector<Value*> enclosing_;
};

}  // namespace

TracedValue::TracedValue() = default;
TracedValue::~TracedValue() = default;

void TracedValue::SetInteger(const char* name, int value) {
  WriteInteger(value);
  WriteStaticName(name);
}

void TracedValue::SetDouble(const char* name, double value) {
  WriteDouble(value);
  WriteStaticName(name);
}

void TracedValue::SetBoolean(const char* name, bool value) {
  WriteBoolean(value);
  WriteStaticName(name);
}

void TracedValue::SetString(const char* name, StringSlice value) {
  WriteTag(kString);
  stream_.WriteString(value);
  WriteStaticName(name);
}

void TracedValue::BeginDictionary(const char* name) {
  WriteTag(kBeginDictionary);
  WriteStaticName(name);
}

void TracedValue::BeginArray(const char* name) {
  WriteTag(kBeginArray);
  WriteStaticName(name);
}

void TracedValue::SetIntegerWithCopiedName(StringSlice name, int value) {
  WriteInteger(value);
  WriteCopiedName(name);
}

void TracedValue::SetDoubleWithCopiedName(StringSlice name, double value) {
  WriteDouble(value);
  WriteCopiedName(name);
}

void TracedValue::SetBooleanWithCopiedName(StringSlice name, bool value) {
  WriteBoolean(value);
  WriteCopiedName(name);
}

void TracedValue::SetStringWithCopiedName(StringSlice name, StringSlice value) {
  WriteTag(kString);
  stream_.WriteString(value);
  WriteCopiedName(name);
}

void TracedValue::BeginDictionaryWithCopiedName(StringSlice name) {
  WriteTag(kBeginDictionary);
  WriteCopiedName(name);
}

void TracedValue::BeginArrayWithCopiedName(StringSlice name) {
  WriteTag(kBeginArray);
  WriteCopiedName(name);
}

void TracedValue::AppendInteger(int value) {
  WriteInteger(value);
}

void TracedValue::AppendDouble(double value) {
  WriteDouble(value);
}

void TracedValue::AppendBoolean(bool value) {
  WriteBoolean(value);
}

void TracedValue::AppendString(StringSlice value) {
  WriteTag(kString);
  stream_.WriteString(value);
}

void TracedValue::BeginDictionary() {
  WriteTag(kBeginDictionary);
}

void TracedValue::BeginArray() {
  WriteTag(kBeginArray);
}

void TracedValue::EndDictionary() {
  WriteTag(kEndDictionary);
}

void TracedValue::EndArray() {
  WriteTag(kEndArray);
}

DictionaryValueOwner TracedValue::ToValue() const {
  DictionaryValueOwner root = MakeValue<DictionaryValue>();
  StreamReader reader(stream_);
  TreeBuilder(root.get()).Build(reader);
  return root;
}

void TracedValue::AppendAsTraceFormat(std::string* out) const {
  std::string json;
  WriteJsonWithOptions(*ToValue(), 0, &json);
  out->append(json);
}

void TracedValue::EstimateTraceMemoryOverhead(
    TraceEventMemoryOverhead* overhead) {
  const int64_t capacity = stream_.capacity();
  overhead->Add(kOverheadTracedValue, 1,
                capacity < 0 ? 0 : kHeaderBytes + capacity,
                kHeaderBytes + stream_.payload_size());
}

void TracedValue::WriteTag(char tag) {
  *stream_.ClaimBytes(1) = static_cast<uint8_t>(tag);
}

void TracedValue::WriteStaticName(const char* name) {
  WriteTag(kStaticName);
  std::memcpy(stream_.ClaimBytes(sizeof(name)), &name, sizeof(name));
}

void TracedValue::WriteCopiedName(StringSlice name) {
  WriteTag(kString);
  stream_.WriteString(name);
}

void TracedValue::WriteInteger(int value) {
  WriteTag(kInteger);
  stream_.WriteUint32(static_cast<uint32_t>(value));
}

void TracedValue::WriteDouble(double value) {
  WriteTag(kDouble);
  std::memcpy(stream_.ClaimBytes(sizeof(value)), &value, sizeof(value));
}

void TracedValue::WriteBoolean(bool value) {
  WriteTag(kBoolean);
  *stream_.ClaimBytes(1) = value ? 1 : 0;
}

}  // namespace base
