#include "desktop/windows/installer/package_unpacker/solid_block_reader.h"

#include <algorithm>
#include <cstring>

#include "7zAlloc.h"
#include "7zCrc.h"
#include "Bra.h"
#include "desktop/windows/installer/package_unpacker/lzma2_part_decoder.h"

namespace installer {
namespace {

// The method ids of the 7z format.
constexpr UInt32 kCopyMethod = 0;
constexpr UInt32 kLzma2Method = 0x21;
constexpr UInt32 kLzmaMethod = 0x30101;
constexpr UInt32 kX86FilterMethod = 0x3030103;

constexpr size_t kInputLookAhead = 1 << 18;
constexpr size_t kFilterBufferSize = 1 << 20;
// The x86 filter looks this far ahead of the bytes it converts.
constexpr size_t kFilterLookAhead = 4;

const ISzAlloc kHeapAllocator = {&SzAlloc, &SzFree};

struct BlockLayout {
  CSzFolder folder;
  const Byte* coder_data;
};

// The block's coders as the archive describes them; false when they cannot
// be read or are no layout this reader streams.
bool ReadLayout(const CSzAr& archive, uint32_t index, BlockLayout* layout) {
  if (index >= archive.NumFolders)
    return false;
  CSzData data;
  data.Data = archive.CodersData + archive.FoCodersOffsets[index];
  data.Size =
      archive.FoCodersOffsets[index + 1] - archive.FoCodersOffsets[index];
  layout->coder_data = data.Data;
  CSzFolder& folder = layout->folder;
  if (SzGetNextFolderItem(&folder, &data) != SZ_OK || data.Size != 0 ||
      folder.UnpackStream != archive.FoToMainUnpackSizeIndex[index] ||
      folder.NumPackStreams != 1 || folder.PackStreams[0] != 0 ||
      folder.Coders[0].NumStreams != 1) {
    return false;
  }
  const UInt32 method = folder.Coders[0].MethodID;
  if (method != kCopyMethod && method != kLzmaMethod && method != kLzma2Method)
    return false;
  if (folder.NumCoders == 1)
    return folder.NumBonds == 0;
  // The filter reads the main coder's output and gives the block's.
  return folder.NumCoders == 2 && folder.NumBonds == 1 &&
         folder.Bonds[0].InIndex == 1 && folder.Bonds[0].OutIndex == 0 &&
         folder.Coders[1].NumStreams == 1 &&
         folder.Coders[1].MethodID == kX86FilterMethod &&
         folder.Coders[1].PropsSize == 0;
}

}  // namespace

// static
bool SolidBlockReader::CanStream(const CSzArEx& archive, uint32_t folder) {
  BlockLayout layout;
  return ReadLayout(archive.db, folder, &layout);
}

SolidBlockReader::SolidBlockReader() {
  LzmaDec_CONSTRUCT(&lzma_);
  Lzma2Dec_CONSTRUCT(&lzma2_);
}

SolidBlockReader::~SolidBlockReader() {
  FreeDecoder();
}

SRes SolidBlockReader::Open(const CSzArEx& archive,
                            ILookInStreamPtr stream,
                            uint32_t folder) {
  FreeDecoder();
  BlockLayout layout;
  if (!ReadLayout(archive.db, folder, &layout))
    return SZ_ERROR_UNSUPPORTED;
  const CSzAr& db = archive.db;
  const CSzCoderInfo& coder = layout.folder.Coders[0];
  const Byte* props = layout.coder_data + coder.PropsOffset;
  const UInt32 pack_index = db.FoStartPackStreamIndex[folder];
  stream_ = stream;
  packed_left_ =
      db.PackPositions[pack_index + 1] - db.PackPositions[pack_index];
  raw_left_ = db.CoderUnpackSizes[db.FoToCoderUnpackSizes[folder]];
  own_left_ = raw_left_;
  unpacked_left_ = SzAr_GetFolderUnpackSize(&db, folder);
  has_crc_ = SzBitWithVals_Check(&db.FolderCRCs, folder);
  expected_crc_ = has_crc_ ? db.FolderCRCs.Vals[folder] : 0;
  crc_ = CRC_INIT_VAL;
  filtered_ = layout.folder.NumCoders == 2;
  filter_position_ = 0;
  filter_state_ = Z7_BRANCH_CONV_ST_X86_STATE_INIT_VAL;
  ready_begin_ = ready_end_ = filled_ = 0;
  if (filtered_)
    filter_buffer_.resize(kFilterBufferSize);

  SRes result = SZ_OK;
  switch (coder.MethodID) {
    case kCopyMethod:
      method_ = Method::kCopy;
      break;
    case kLzmaMethod:
      method_ = Method::kLzma;
      result =
          LzmaDec_Allocate(&lzma_, props, coder.PropsSize, &kHeapAllocator);
      if (result == SZ_OK)
        LzmaDec_Init(&lzma_);
      break;
    case kLzma2Method:
      method_ = Method::kLzma2;
      result = coder.PropsSize == 1
                   ? Lzma2Dec_Allocate(&lzma2_, props[0], &kHeapAllocator)
                   : SZ_ERROR_UNSUPPORTED;
      if (result == SZ_OK) {
        Lzma2Dec_Init(&lzma2_);
        StartParts(archive.dataPos + db.PackPositions[pack_index], props[0]);
      }
      break;
  }
  if (result != SZ_OK)
    return result;
  return LookInStream_SeekTo(stream,
                             archive.dataPos + db.PackPositions[pack_index]);
}

SRes SolidBlockReader::Read(uint8_t* data, size_t size) {
  if (size > unpacked_left_)
    return SZ_ERROR_DATA;
  size_t done = 0;
  while (done < size) {
    size_t piece = size - done;
    if (filtered_) {
      if (ready_begin_ == ready_end_) {
        if (SRes result = FillFiltered())
          return result;
      }
      piece = std::min(piece, ready_end_ - ready_begin_);
      if (piece == 0)
        return SZ_ERROR_DATA;
      std::memcpy(data + done, filter_buffer_.data() + ready_begin_, piece);
      ready_begin_ += piece;
    } else {
      if (SRes result = DecodeRaw(data + done, &piece))
        return result;
      if (piece == 0)
        return SZ_ERROR_DATA;
    }
    crc_ = CrcUpdate(crc_, data + done, piece);
    done += piece;
  }
  unpacked_left_ -= size;
  return SZ_OK;
}

SRes SolidBlockReader::Finish() {
  if (unpacked_left_ != 0)
    return SZ_ERROR_DATA;
  if (has_crc_ && CRC_GET_DIGEST(crc_) != expected_crc_)
    return SZ_ERROR_CRC;
  return SZ_OK;
}

SRes SolidBlockReader::FillFiltered() {
  // The unconverted tail moves to the front, and fresh output joins it.
  const size_t tail = filled_ - ready_end_;
  std::memmove(filter_buffer_.data(), filter_buffer_.data() + ready_end_, tail);
  size_t fresh = filter_buffer_.size() - tail;
  if (SRes result = DecodeRaw(filter_buffer_.data() + tail, &fresh))
    return result;
  filled_ = tail + fresh;
  ready_begin_ = 0;
  if (raw_left_ == 0) {
    // The block's last bytes are too few to hold an instruction: they stay
    // as they are, as the whole-block conversion leaves them.
    z7_BranchConvSt_X86_Dec(filter_buffer_.data(), filled_, filter_position_,
                            &filter_state_);
    ready_end_ = filled_;
    return SZ_OK;
  }
  if (filled_ <= kFilterLookAhead)
    return SZ_ERROR_DATA;
  const uint8_t* end = z7_BranchConvSt_X86_Dec(
      filter_buffer_.data(), filled_, filter_position_, &filter_state_);
  ready_end_ = static_cast<size_t>(end - filter_buffer_.data());
  filter_position_ += static_cast<uint32_t>(ready_end_);
  return SZ_OK;
}

void SolidBlockReader::StartParts(uint64_t stream_offset, Byte properties) {
  if (archive_file_.empty())
    return;
  auto parts = std::make_unique<Lzma2PartDecoder>();
  if (!parts->Start(archive_file_, archive_offset_ + stream_offset,
                    packed_left_, raw_left_, properties)) {
    return;
  }
  own_left_ = parts->first_part_size();
  parts_ = std::move(parts);
}

SRes SolidBlockReader::DecodeRaw(uint8_t* data, size_t* size) {
  const size_t wanted =
      static_cast<size_t>(std::min<uint64_t>(*size, raw_left_));
  size_t done = 0;
  while (done < wanted) {
    size_t piece = wanted - done;
    if (own_left_ == 0) {
      // The first part was decoded here; the later ones come decoded.
      if (SRes result =
              parts_ ? parts_->Read(data + done, &piece) : SZ_ERROR_DATA) {
        return result;
      }
      if (piece == 0)
        return SZ_ERROR_DATA;
      done += piece;
      continue;
    }
    piece = static_cast<size_t>(std::min<uint64_t>(piece, own_left_));
    size_t consumed = 0;
    if (SRes result = DecodeStep(data + done, &piece, &consumed))
      return result;
    if (piece == 0 && consumed == 0)
      return SZ_ERROR_DATA;
    own_left_ -= piece;
    done += piece;
  }
  raw_left_ -= done;
  *size = done;
  return SZ_OK;
}

SRes SolidBlockReader::DecodeStep(uint8_t* data,
                                  size_t* size,
                                  size_t* consumed) {
  const void* input = nullptr;
  size_t available =
      static_cast<size_t>(std::min<uint64_t>(kInputLookAhead, packed_left_));
  if (SRes result = ILookInStream_Look(stream_, &input, &available))
    return result;
  SizeT in_size = available;
  SizeT out_size = *size;
  ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
  SRes result = SZ_OK;
  switch (method_) {
    case Method::kCopy:
      in_size = out_size = std::min(in_size, out_size);
      std::memcpy(data, input, out_size);
      break;
    case Method::kLzma:
      result = LzmaDec_DecodeToBuf(&lzma_, data, &out_size,
                                   static_cast<const Byte*>(input), &in_size,
                                   LZMA_FINISH_ANY, &status);
      break;
    case Method::kLzma2:
      result = Lzma2Dec_DecodeToBuf(&lzma2_, data, &out_size,
                                    static_cast<const Byte*>(input), &in_size,
                                    LZMA_FINISH_ANY, &status);
      break;
    case Method::kNone:
      return SZ_ERROR_FAIL;
  }
  if (result != SZ_OK)
    return result;
  packed_left_ -= in_size;
  *size = out_size;
  *consumed = in_size;
  return ILookInStream_Skip(stream_, in_size);
}

void SolidBlockReader::FreeDecoder() {
  parts_.reset();
  if (method_ == Method::kLzma)
    LzmaDec_Free(&lzma_, &kHeapAllocator);
  if (method_ == Method::kLzma2)
    Lzma2Dec_Free(&lzma2_, &kHeapAllocator);
  method_ = Method::kNone;
}

}  // namespace installer
