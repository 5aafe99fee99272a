#include "desktop/windows/installer/package_unpacker/lzma2_part_decoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "7zAlloc.h"
#include "Lzma2Dec.h"
#include "base/logging.h"
#include "base/threading/runnable_thread.h"

namespace installer {
namespace {

// The largest part taken, packed and decoded: a packer left to itself makes
// parts of a few times its dictionary, 128 MB at the release's level.
constexpr uint64_t kMaxPartHeld = 256ull << 20;
// What the parts started and not yet read may hold together, one part
// always allowed. The release packs parts of 16 MB: this lets every thread
// work while the caller reads, without decoding far ahead of the writers.
constexpr uint64_t kMaxHeld = 96ull << 20;
// Beside the caller's own decoding and the file writers.
constexpr int kMaxThreads = 3;
// The longest chunk header: control, unpacked and packed size, properties.
constexpr size_t kMaxHeaderSize = 6;
// The walk of the chunk headers reads this much at a time.
constexpr size_t kWalkWindowSize = 1 << 20;
// A single read asks for no more than this.
constexpr DWORD kMaxReadSize = 16 << 20;

const ISzAlloc kHeapAllocator = {&SzAlloc, &SzFree};

struct ChunkHeader {
  size_t size = 0;
  uint64_t packed_size = 0;
  uint64_t unpacked_size = 0;
  bool resets_dictionary = false;
  bool ends_stream = false;
};

// The header at `bytes`; false for a control byte no chunk has or a header
// cut short.
bool ParseChunkHeader(const uint8_t* bytes, size_t available,
                      ChunkHeader* header) {
  if (available == 0)
    return false;
  const uint8_t control = bytes[0];
  if (control == 0) {
    header->size = 1;
    header->ends_stream = true;
    return true;
  }
  if (control == 1 || control == 2) {
    // Stored bytes; 1 also resets the dictionary.
    if (available < 3)
      return false;
    header->size = 3;
    header->unpacked_size = ((bytes[1] << 8) | bytes[2]) + 1;
    header->packed_size = header->unpacked_size;
    header->resets_dictionary = control == 1;
    return true;
  }
  if (control < 0x80)
    return false;
  // Compressed bytes; the two bits above the size's say what is reset,
  // from nothing (0) to state, properties and dictionary (3).
  const int reset = (control >> 5) & 3;
  header->size = reset >= 2 ? 6 : 5;
  if (available < header->size)
    return false;
  header->unpacked_size =
      ((uint64_t{control & 0x1Fu} << 16) | (bytes[1] << 8) | bytes[2]) + 1;
  header->packed_size = ((bytes[3] << 8) | bytes[4]) + 1;
  header->resets_dictionary = reset == 3;
  return true;
}

// `size` bytes at `offset` of `file`, whose file pointer nobody relies on.
bool ReadAt(HANDLE file, uint64_t offset, uint8_t* data, size_t size) {
  while (size > 0) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD wanted =
        static_cast<DWORD>(std::min<size_t>(size, kMaxReadSize));
    DWORD read = 0;
    if (!::ReadFile(file, data, wanted, &read, &at)) {
      PLOG(ERROR) << "Could not read a part of the package";
      return false;
    }
    if (read == 0) {
      LOG(ERROR) << "The package ends inside a part";
      return false;
    }
    offset += read;
    data += read;
    size -= read;
  }
  return true;
}

uint64_t HeldSize(const Lzma2PartDecoder::Part& part) {
  return part.packed_size + part.unpacked_size;
}

struct FreeDeleter {
  void operator()(void* block) const { std::free(block); }
};
using Buffer = std::unique_ptr<uint8_t[], FreeDeleter>;

Buffer AllocateBuffer(uint64_t size) {
  return Buffer(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size))));
}

}  // namespace

// One part's outcome. Written by the thread that decodes it, read by the
// caller once `done`.
struct Lzma2PartDecoder::Slot {
  bool done = false;
  SRes result = SZ_OK;
  Buffer data;
  size_t size = 0;
};

class Lzma2PartDecoder::DecodingThread : public base::RunnableThread {
 public:
  explicit DecodingThread(Lzma2PartDecoder* decoder)
      : base::RunnableThread("Lzma2PartDecoder"), decoder_(decoder) {}

 private:
  void Run() override { decoder_->DecodeParts(); }

  Lzma2PartDecoder* const decoder_;
};

Lzma2PartDecoder::Lzma2PartDecoder() = default;

Lzma2PartDecoder::~Lzma2PartDecoder() {
  {
    base::AutoLock hold(lock_);
    stopping_ = true;
    changed_.Broadcast();
  }
  for (auto& thread : threads_)
    thread->Join();
}

bool Lzma2PartDecoder::Start(const base::FilePath& file,
                             uint64_t offset,
                             uint64_t packed_size,
                             uint64_t unpacked_size,
                             Byte properties) {
  SYSTEM_INFO system = {};
  ::GetSystemInfo(&system);
  // One processor stays the caller's, which decodes the first part.
  const int processors = static_cast<int>(system.dwNumberOfProcessors) - 1;
  if (processors < 1)
    return false;
  file_.Set(::CreateFileW(file.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr));
  if (!file_.IsValid()) {
    PLOG(WARNING) << "No handle of its own for decoding the package in parts";
    return false;
  }
  offset_ = offset;
  properties_ = properties;
  parts_ = FindParts(packed_size, unpacked_size);
  if (parts_.size() < 2)
    return false;
  for (size_t i = 1; i < parts_.size(); ++i) {
    if (HeldSize(parts_[i]) > kMaxPartHeld)
      return false;
  }
  for (size_t i = 0; i < parts_.size(); ++i)
    slots_.push_back(std::make_unique<Slot>());
  // The caller decodes the first part itself.
  next_to_start_ = reading_ = 1;
  const int count = std::min<int>({static_cast<int>(parts_.size()) - 1,
                                   processors, kMaxThreads});
  for (int i = 0; i < count; ++i) {
    auto thread = std::make_unique<DecodingThread>(this);
    if (!thread->Start())
      break;
    threads_.push_back(std::move(thread));
  }
  if (threads_.empty())
    return false;
  LOG(INFO) << "Decoding a block in " << parts_.size() << " parts on "
            << threads_.size() << " threads beside the reader";
  return true;
}

uint64_t Lzma2PartDecoder::first_part_size() const {
  return parts_.empty() ? 0 : parts_[0].unpacked_size;
}

std::vector<Lzma2PartDecoder::Part> Lzma2PartDecoder::FindParts(
    uint64_t packed_size,
    uint64_t unpacked_size) const {
  std::vector<Part> parts;
  uint64_t position = 0;
  uint64_t unpacked = 0;
  bool ended = false;
  // Headers are at most a chunk (64 KiB packed) apart: each read of a
  // window brings many, where a read per header would cost a call to the
  // system each.
  std::vector<uint8_t> window(kWalkWindowSize);
  uint64_t window_start = 0;
  size_t window_size = 0;
  while (position < packed_size && !ended) {
    const size_t available = static_cast<size_t>(
        std::min<uint64_t>(kMaxHeaderSize, packed_size - position));
    if (position < window_start ||
        position + available > window_start + window_size) {
      window_start = position;
      window_size = static_cast<size_t>(
          std::min<uint64_t>(window.size(), packed_size - position));
      if (!ReadAt(file_.Get(), offset_ + window_start, window.data(),
                  window_size)) {
        return {};
      }
    }
    ChunkHeader header;
    if (!ParseChunkHeader(window.data() + (position - window_start),
                          available, &header)) {
      return {};
    }
    if (header.ends_stream) {
      ended = true;
      position += header.size;
      break;
    }
    // The stream's first chunk must reset the dictionary: there is none.
    if (parts.empty() && !header.resets_dictionary)
      return {};
    if (header.resets_dictionary)
      parts.push_back({position, 0, 0});
    const uint64_t chunk_size = header.size + header.packed_size;
    parts.back().packed_size += chunk_size;
    parts.back().unpacked_size += header.unpacked_size;
    position += chunk_size;
    unpacked += header.unpacked_size;
  }
  if (!ended || position != packed_size || unpacked != unpacked_size)
    return {};
  return parts;
}

void Lzma2PartDecoder::DecodeParts() {
  base::AutoLock hold(lock_);
  for (;;) {
    while (!stopping_ && next_to_start_ < parts_.size() && !HasRoomForNext())
      changed_.Wait();
    if (stopping_ || next_to_start_ >= parts_.size())
      break;
    const size_t index = next_to_start_++;
    held_ += HeldSize(parts_[index]);
    Slot* slot = slots_[index].get();
    SRes result = SZ_OK;
    {
      base::AutoUnlock unlocked(lock_);
      result = DecodePart(parts_[index], slot);
    }
    slot->result = result;
    slot->done = true;
    changed_.Broadcast();
  }
}

bool Lzma2PartDecoder::HasRoomForNext() const {
  // A part alone always fits: the caller checked each.
  return held_ == 0 || held_ + HeldSize(parts_[next_to_start_]) <= kMaxHeld;
}

SRes Lzma2PartDecoder::DecodePart(const Part& part, Slot* slot) const {
  Buffer packed = AllocateBuffer(part.packed_size);
  slot->data = AllocateBuffer(part.unpacked_size);
  if (!packed || !slot->data)
    return SZ_ERROR_MEM;
  if (!ReadAt(file_.Get(), offset_ + part.offset, packed.get(),
              static_cast<size_t>(part.packed_size))) {
    return SZ_ERROR_READ;
  }
  // The part's own bytes are its dictionary: nothing before it is needed.
  SizeT unpacked = static_cast<SizeT>(part.unpacked_size);
  SizeT consumed = static_cast<SizeT>(part.packed_size);
  ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
  const SRes result =
      Lzma2Decode(slot->data.get(), &unpacked, packed.get(), &consumed,
                  properties_, LZMA_FINISH_ANY, &status, &kHeapAllocator);
  if (result != SZ_OK)
    return result;
  // Damage may leave the decoder short of the sizes the headers promise.
  if (unpacked != part.unpacked_size || consumed != part.packed_size)
    return SZ_ERROR_DATA;
  slot->size = unpacked;
  return SZ_OK;
}

SRes Lzma2PartDecoder::Read(uint8_t* data, size_t* size) {
  size_t done = 0;
  while (done < *size) {
    if (has_current_ && current_position_ == slots_[reading_]->size) {
      // The part was read whole: its memory goes to the next.
      base::AutoLock hold(lock_);
      slots_[reading_]->data.reset();
      held_ -= HeldSize(parts_[reading_]);
      ++reading_;
      has_current_ = false;
      changed_.Broadcast();
    }
    if (!has_current_) {
      if (reading_ >= parts_.size())
        break;
      if (SRes result = TakeNextPart()) {
        *size = done;
        return result;
      }
    }
    const Slot& slot = *slots_[reading_];
    const size_t piece = std::min(*size - done, slot.size - current_position_);
    std::memcpy(data + done, slot.data.get() + current_position_, piece);
    current_position_ += piece;
    done += piece;
  }
  *size = done;
  return SZ_OK;
}

SRes Lzma2PartDecoder::TakeNextPart() {
  Slot* slot = slots_[reading_].get();
  SRes result = SZ_ERROR_FAIL;
  {
    base::AutoLock hold(lock_);
    while (!slot->done && !threads_.empty())
      changed_.Wait();
    if (slot->done)
      result = slot->result;
  }
  if (result != SZ_OK) {
    LOG(ERROR) << "Part " << reading_ << " of the package's block could not "
               << "be decoded: " << result;
    return result;
  }
  has_current_ = true;
  current_position_ = 0;
  return SZ_OK;
}

}  // namespace installer
