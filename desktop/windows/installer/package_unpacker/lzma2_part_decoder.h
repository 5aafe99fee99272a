#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_LZMA2_PART_DECODER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_LZMA2_PART_DECODER_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "7zTypes.h"
#include "base/files/file_path.h"
#include "base/threading/condition_variable.h"
#include "base/threading/lock.h"
#include "base/win/scoped_handle.h"

namespace installer {

// Decodes the later parts of an LZMA2 stream on threads of its own while
// the caller decodes the first. A packer that works on several threads cuts
// the stream into parts that each start with a chunk resetting the
// dictionary: such a part needs nothing before it. The parts are found by
// walking the chunk headers, each of which gives its sizes, without
// decoding. Each thread reads its part from the archive file through a
// handle of its own and decodes it whole into memory; the parts are handed
// back in order. Only so many bytes of parts are held at any time.
// Created, fed and destroyed on one thread.
class Lzma2PartDecoder {
 public:
  // A run of chunks that starts by resetting the dictionary.
  struct Part {
    // From the start of the stream.
    uint64_t offset = 0;
    uint64_t packed_size = 0;
    uint64_t unpacked_size = 0;
  };

  Lzma2PartDecoder();
  Lzma2PartDecoder(const Lzma2PartDecoder&) = delete;
  Lzma2PartDecoder& operator=(const Lzma2PartDecoder&) = delete;
  // Waits for the parts being decoded and ends the threads.
  ~Lzma2PartDecoder();

  // Finds the parts of the stream of `packed_size` bytes at `offset` of
  // `file` (`unpacked_size` bytes once decoded, property byte `properties`)
  // and starts decoding all but the first. False when the stream has one
  // part, its headers do not add up (the caller's decoding finds the
  // damage), a part is too large to hold or no thread or handle could be
  // had: the caller then decodes the whole stream itself.
  bool Start(const base::FilePath& file,
             uint64_t offset,
             uint64_t packed_size,
             uint64_t unpacked_size,
             Byte properties);
  // The bytes the caller decodes itself, before those of `Read`.
  uint64_t first_part_size() const;
  // Up to `*size` more bytes of the parts in order, waiting for the part
  // they are in. SZ_ERROR_DATA (or the read's error) when that part could
  // not be read or decoded; `*size` is 0 past the last part.
  SRes Read(uint8_t* data, size_t* size);

 private:
  class DecodingThread;
  struct Slot;

  // A thread's work: parts in order until there are none or the decoder
  // stops.
  void DecodeParts();
  // The stream's parts from the headers of its chunks; empty when they
  // do not add up or have no end mark.
  std::vector<Part> FindParts(uint64_t packed_size,
                              uint64_t unpacked_size) const;
  // Reads and decodes one part; SZ_OK or why not.
  SRes DecodePart(const Part& part, Slot* slot) const;
  // With `lock_` held: whether the next part may start without holding too
  // much.
  bool HasRoomForNext() const;
  // Waits for the next part and makes it the one read from.
  SRes TakeNextPart();

  base::win::ScopedHandle file_;
  uint64_t offset_ = 0;
  Byte properties_ = 0;
  std::vector<Part> parts_;
  std::vector<std::unique_ptr<DecodingThread>> threads_;

  base::Lock lock_;
  base::ConditionVariable changed_{&lock_};
  // Guarded by `lock_`: one per part, in order.
  std::vector<std::unique_ptr<Slot>> slots_;
  size_t next_to_start_ = 0;
  // The bytes of the parts started and not yet read whole.
  uint64_t held_ = 0;
  bool stopping_ = false;

  // The part being read: its index in `parts_` and what of it is left.
  size_t reading_ = 0;
  bool has_current_ = false;
  size_t current_position_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_LZMA2_PART_DECODER_H_
