#include "base/binary_writer.h"

#include <algorithm>
#include <cstring>

#include "base/allocator/allocator_shim.h"

namespace base {

namespace {

constexpr uint32_t kOwnedHeaderSize = 4;
constexpr int64_t kInitialCapacity = 64;
constexpr int64_t kReadOnly = -1;
// Lengths and sizes travel as int32; a multiple of 4 so that padding cannot
// push a payload past it.
constexpr uint64_t kMaxPayloadSize = 0x7FFFFFFC;

static_assert(sizeof(wchar_t) == 2, "wide strings travel as UTF-16 units");

uint64_t RoundUp(uint64_t value, uint64_t multiple) {
  return (value + multiple - 1) / multiple * multiple;
}

void StoreUint32(uint8_t* at, uint32_t value) {
  memcpy(at, &value, sizeof(value));  // Little-endian, like the wire.
}

uint32_t LoadUint32(const void* at) {
  uint32_t value;
  memcpy(&value, at, sizeof(value));
  return value;
}

uint8_t* AllocateOrDie(uint64_t size) {
  void* block = AllocatorNew(size);
  if (!block)
    OnAllocationFailure(size);
  return static_cast<uint8_t*>(block);
}

// Writing into received bytes, or a message beyond 31 bits, is a bug of the
// caller; the sizes stay on the stack for the crash dump.
[[noreturn]] __attribute__((noinline)) void OnBadWrite(uint64_t payload_size,
                                                       uint64_t size) {
  volatile uint64_t current_payload_size = payload_size;
  volatile uint64_t requested_size = size;
  (void)current_payload_size;
  (void)requested_size;
  __builtin_trap();
}

}  // namespace

BinaryWriter::BinaryWriter()
    : header_size_(kOwnedHeaderSize), capacity_(kInitialCapacity) {
  buffer_ = AllocateOrDie(header_size_ + capacity_);
  StoreUint32(buffer_, 0);
}

BinaryWriter::BinaryWriter(const void* data, int length)
    : capacity_(kReadOnly) {
  if (!data || length < static_cast<int>(kOwnedHeaderSize))
    return;
  const uint32_t claimed_payload = LoadUint32(data);
  // Wide arithmetic: a claim beyond `length` must not give a header that
  // starts the payload before the received bytes.
  const int64_t header_size = int64_t{length} - claimed_payload;
  if (header_size < kOwnedHeaderSize || header_size % 4 != 0)
    return;
  // Never written: ClaimBytes refuses a read-only view.
  buffer_ = static_cast<uint8_t*>(const_cast<void*>(data));
  header_size_ = static_cast<uint32_t>(header_size);
  payload_size_ = claimed_payload;
}

BinaryWriter::BinaryWriter(const BinaryWriter& other)
    : header_size_(other.buffer_ ? other.header_size_ : kOwnedHeaderSize),
      capacity_(static_cast<int64_t>(RoundUp(other.payload_size_, 64))),
      payload_size_(other.payload_size_) {
  buffer_ = AllocateOrDie(header_size_ + capacity_);
  if (other.buffer_)
    memcpy(buffer_, other.buffer_, header_size_ + payload_size_);
  else
    StoreUint32(buffer_, 0);
}

BinaryWriter::~BinaryWriter() {
  if (capacity_ != kReadOnly)
    AllocatorFree(buffer_);
}

void BinaryWriter::WriteUint32(uint32_t value) {
  StoreUint32(ClaimBytes(sizeof(value)), value);
}

bool BinaryWriter::WriteString(StringSlice value) {
  WriteCounted(value.data(), value.size(), 1);
  return true;
}

bool BinaryWriter::WriteWideString(WideStringSlice value) {
  WriteCounted(value.data(), value.size(), sizeof(wchar_t));
  return true;
}

uint8_t* BinaryWriter::ClaimBytes(size_t size) {
  if (capacity_ == kReadOnly || size > kMaxPayloadSize - payload_size_)
    OnBadWrite(payload_size_, size);
  const uint64_t padded = RoundUp(size, 4);
  const uint64_t new_payload_size = payload_size_ + padded;
  if (static_cast<int64_t>(new_payload_size) > capacity_)
    Grow(new_payload_size);
  uint8_t* claimed = buffer_ + header_size_ + payload_size_;
  memset(claimed + size, 0, padded - size);
  payload_size_ = static_cast<uint32_t>(new_payload_size);
  StoreUint32(buffer_, payload_size_);
  return claimed;
}

const uint8_t* BinaryWriter::payload() const {
  return buffer_ ? buffer_ + header_size_ : nullptr;
}

void BinaryWriter::WriteCounted(const void* data, uint64_t count,
                                size_t unit_size) {
  if (count > kMaxPayloadSize / unit_size)
    OnBadWrite(payload_size_, count);
  const size_t byte_count = count * unit_size;
  uint8_t* field = ClaimBytes(sizeof(uint32_t) + byte_count);
  StoreUint32(field, static_cast<uint32_t>(count));
  if (byte_count)
    memcpy(field + sizeof(uint32_t), data, byte_count);
}

void BinaryWriter::Grow(uint64_t needed_payload_size) {
  // Doubling up to a page, then whole pages less a little, so that the block
  // with the heap's own overhead stays within the pages.
  int64_t candidate = capacity_ * 2;
  if (candidate > 4096)
    candidate = static_cast<int64_t>(RoundUp(candidate, 4096)) - 64;
  const uint64_t capacity = RoundUp(
      std::max<uint64_t>(static_cast<uint64_t>(candidate), needed_payload_size),
      64);
  void* grown = AllocatorRealloc(buffer_, header_size_ + capacity);
  if (!grown)
    OnAllocationFailure(header_size_ + capacity);
  buffer_ = static_cast<uint8_t*>(grown);
  capacity_ = static_cast<int64_t>(capacity);
}

}  // namespace base
