#include "base/binary_reader.h"

#include <cstring>

#include "base/binary_writer.h"

namespace base {

BinaryReader::BinaryReader(const BinaryWriter& message)
    : payload_(message.payload()),
      end_index_(message.payload() ? message.payload_size() : 0) {}

bool BinaryReader::ReadBool(bool* value) {
  const uint8_t* cell = Consume(1);
  if (!cell)
    return false;
  *value = cell[0] != 0;
  return true;
}

bool BinaryReader::ReadUint32(uint32_t* value) {
  const uint8_t* field = Consume(sizeof(*value));
  if (!field)
    return false;
  memcpy(value, field, sizeof(*value));
  return true;
}

bool BinaryReader::ReadString(std::string* value) {
  const int64_t byte_count = ReadLength(1);
  if (byte_count < 0)
    return false;
  const uint8_t* bytes = Consume(static_cast<size_t>(byte_count));
  value->assign(reinterpret_cast<const char*>(bytes),
                static_cast<size_t>(byte_count));
  return true;
}

bool BinaryReader::ReadWideString(std::wstring* value) {
  const int64_t byte_count = ReadLength(sizeof(wchar_t));
  if (byte_count < 0)
    return false;
  const uint8_t* bytes = Consume(static_cast<size_t>(byte_count));
  std::wstring units(static_cast<size_t>(byte_count) / sizeof(wchar_t), 0);
  if (byte_count)
    memcpy(units.data(), bytes, static_cast<size_t>(byte_count));
  value->swap(units);
  return true;
}

const uint8_t* BinaryReader::Consume(size_t size) {
  const size_t remaining = end_index_ - read_index_;
  if (size > remaining) {
    Fail();
    return nullptr;
  }
  const uint8_t* start = payload_ + read_index_;
  // The last field may lack its padding.
  const size_t padded = (size + 3) & ~size_t{3};
  read_index_ += padded < remaining ? padded : remaining;
  return start;
}

int64_t BinaryReader::ReadLength(int64_t bytes_per_unit) {
  uint32_t field;
  if (!ReadUint32(&field))
    return -1;
  const int64_t count = static_cast<int32_t>(field);
  const int64_t byte_count = count * bytes_per_unit;
  // A byte count beyond int32 fails like any other bad length: the rest of
  // the message cannot be trusted either.
  if (count < 0 || byte_count > INT32_MAX ||
      static_cast<uint64_t>(byte_count) > end_index_ - read_index_) {
    Fail();
    return -1;
  }
  return byte_count;
}

}  // namespace base
