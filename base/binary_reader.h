#ifndef BASE_BINARY_READER_H_
#define BASE_BINARY_READER_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace base {

class BinaryWriter;

// A read cursor over the payload of a `BinaryWriter`, which must outlive it.
// A failed read leaves its out-parameter untouched and moves the cursor to
// the end, so that every later read fails too.
class BinaryReader {
 public:
  explicit BinaryReader(const BinaryWriter& message);

  // Reads the first byte of a 4-byte cell.
  bool ReadBool(bool* value);
  bool ReadUint32(uint32_t* value);
  bool ReadString(std::string* value);
  bool ReadWideString(std::wstring* value);

 private:
  // Returns the next `size` bytes and steps over them and their padding, or
  // null (cursor at the end) when fewer remain.
  const uint8_t* Consume(size_t size);
  // Reads a string's length field and returns its byte count, or -1.
  int64_t ReadLength(int64_t bytes_per_unit);
  void Fail() { read_index_ = end_index_; }

  const uint8_t* payload_;
  size_t read_index_ = 0;
  size_t end_index_;
};

}  // namespace base

#endif  // BASE_BINARY_READER_H_
