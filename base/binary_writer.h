#ifndef BASE_BINARY_WRITER_H_
#define BASE_BINARY_WRITER_H_

#include <cstddef>
#include <cstdint>

#include "base/strings/string_slice.h"

namespace base {

// A growable, length-prefixed message buffer: a 32-bit little-endian payload
// size, then fields each padded with zeros to a multiple of 4 bytes. It can
// also wrap received bytes read-only, without copying them, for a
// `BinaryReader` to walk. Lives on one thread.
class BinaryWriter {
 public:
  // An empty owned message: the header alone, room for 64 payload bytes.
  BinaryWriter();
  // A read-only view of `length` received bytes, header included, which must
  // outlive the writer. Bytes whose header is inconsistent with `length`
  // (shorter than a header, or claiming more payload than was received) give
  // a writer without a buffer, whose payload is empty.
  BinaryWriter(const void* data, int length);
  // Always an owned, writable copy, also of a read-only view.
  BinaryWriter(const BinaryWriter& other);
  BinaryWriter& operator=(const BinaryWriter&) = delete;
  virtual ~BinaryWriter();

  // Signed integers and booleans (1 or 0) travel as this field too.
  void WriteUint32(uint32_t value);
  // A 32-bit length (bytes, or UTF-16 units), then the characters.
  bool WriteString(StringSlice value);
  bool WriteWideString(WideStringSlice value);
  // Appends `size` bytes plus zero padding and returns the first of them for
  // the caller to fill. Ends the process on a read-only view, when the
  // payload would outgrow 31 bits or when memory runs out.
  uint8_t* ClaimBytes(size_t size);

  // The whole message as it travels: header then payload; null without a
  // buffer.
  const uint8_t* data() const { return buffer_; }
  size_t size() const { return buffer_ ? header_size_ + payload_size_ : 0; }
  const uint8_t* payload() const;
  uint32_t payload_size() const { return payload_size_; }
  // Payload bytes that fit before the buffer must grow; -1 for a read-only
  // view.
  int64_t capacity() const { return capacity_; }

 private:
  // Writes a 32-bit count, then `count` units of `unit_size` bytes.
  void WriteCounted(const void* data, uint64_t count, size_t unit_size);
  void Grow(uint64_t needed_payload_size);

  uint8_t* buffer_ = nullptr;
  uint32_t header_size_ = 0;
  int64_t capacity_ = 0;
  uint32_t payload_size_ = 0;
};

}  // namespace base

#endif  // BASE_BINARY_WRITER_H_
