#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_SOLID_BLOCK_READER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_SOLID_BLOCK_READER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "7z.h"
#include "Lzma2Dec.h"
#include "LzmaDec.h"
#include "base/files/file_path.h"

namespace installer {

class Lzma2PartDecoder;

// Reads one solid block (a 7z folder) of an open archive as a stream, piece
// by piece, in the order of its files, so that each file goes from the
// decoder to its own file without the whole block ever being in memory.
// Streams the layouts a packer makes for an installation package: LZMA,
// LZMA2 or stored data, alone or followed by the x86 branch filter; any
// other block is left to the reader's whole-block extraction. Checks the
// block's CRC, when the archive has one, once all of it was read. An LZMA2
// block whose stream is cut into independent parts is decoded on several
// threads when the reader knows the archive's file. One thread at a time.
class SolidBlockReader {
 public:
  // Whether block `folder` of `archive` has a layout this reader streams.
  static bool CanStream(const CSzArEx& archive, uint32_t folder);

  SolidBlockReader();
  SolidBlockReader(const SolidBlockReader&) = delete;
  SolidBlockReader& operator=(const SolidBlockReader&) = delete;
  ~SolidBlockReader();

  // The archive lies at `offset` of `file`: threads may read parts of a
  // block from there beside the reader's stream. Set before `Open`.
  void set_archive_file(const base::FilePath& file, uint64_t offset) {
    archive_file_ = file;
    archive_offset_ = offset;
  }

  // Starts block `folder`, which must be one that `CanStream` accepts.
  // `archive` and `stream` outlive the reading.
  SRes Open(const CSzArEx& archive, ILookInStreamPtr stream, uint32_t folder);
  // The block's next `size` bytes; SZ_ERROR_DATA when the block has fewer
  // or its data is damaged.
  SRes Read(uint8_t* data, size_t size);
  // After the block's last byte was read: SZ_ERROR_CRC when the block's CRC
  // does not match what was read.
  SRes Finish();
  // Whether every byte of the block was read.
  bool AtEnd() const { return unpacked_left_ == 0; }

 private:
  enum class Method { kNone, kCopy, kLzma, kLzma2 };

  // Up to `*size` bytes of the main coder's output; fewer only at its end.
  SRes DecodeRaw(uint8_t* data, size_t* size);
  SRes DecodeStep(uint8_t* data, size_t* size, size_t* consumed);
  // Hands the block's later LZMA2 parts to threads when it has several.
  void StartParts(uint64_t stream_offset, Byte properties);
  // Refills the filtered part of the filter buffer.
  SRes FillFiltered();
  void FreeDecoder();

  base::FilePath archive_file_;
  uint64_t archive_offset_ = 0;
  ILookInStreamPtr stream_ = nullptr;
  Method method_ = Method::kNone;
  CLzmaDec lzma_;
  CLzma2Dec lzma2_;
  uint64_t packed_left_ = 0;
  uint64_t raw_left_ = 0;
  // What of `raw_left_` the reader's own decoder gives; the rest comes from
  // `parts_`.
  uint64_t own_left_ = 0;
  std::unique_ptr<Lzma2PartDecoder> parts_;
  uint64_t unpacked_left_ = 0;
  bool has_crc_ = false;
  uint32_t expected_crc_ = 0;
  uint32_t crc_ = 0;

  // The x86 branch filter: converted bytes wait in [ready_begin_,
  // ready_end_), the unconverted tail (too short to tell an instruction by)
  // in [ready_end_, filled_).
  bool filtered_ = false;
  uint32_t filter_position_ = 0;
  uint32_t filter_state_ = 0;
  std::vector<uint8_t> filter_buffer_;
  size_t ready_begin_ = 0;
  size_t ready_end_ = 0;
  size_t filled_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_SOLID_BLOCK_READER_H_
