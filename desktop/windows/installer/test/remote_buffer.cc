#include "desktop/windows/installer/test/remote_buffer.h"

#include <utility>

#include "base/logging.h"

// static
std::unique_ptr<RemoteBuffer> RemoteBuffer::Create(DWORD process_id,
                                                   size_t size) {
  base::win::ScopedHandle process(::OpenProcess(
      PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
      process_id));
  if (!process.IsValid()) {
    PLOG(ERROR) << "Cannot open process " << process_id;
    return nullptr;
  }
  void* address = ::VirtualAllocEx(process.Get(), nullptr, size,
                                   MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (!address) {
    PLOG(ERROR) << "Cannot allocate " << size << " bytes in process "
                << process_id;
    return nullptr;
  }
  return std::make_unique<RemoteBuffer>(ConstructionKey(), std::move(process),
                                        address, size);
}

RemoteBuffer::RemoteBuffer(ConstructionKey,
                           base::win::ScopedHandle process,
                           void* address,
                           size_t size)
    : process_(std::move(process)), address_(address), size_(size) {}

RemoteBuffer::~RemoteBuffer() {
  ::VirtualFreeEx(process_.Get(), address_, 0, MEM_RELEASE);
}

bool RemoteBuffer::Write(size_t offset, const void* data, size_t size) {
  SIZE_T written = 0;
  if (!Fits(offset, size) ||
      !::WriteProcessMemory(process_.Get(),
                            static_cast<char*>(address_) + offset, data, size,
                            &written) ||
      written != size) {
    PLOG(ERROR) << "Cannot write " << size << " bytes at " << offset;
    return false;
  }
  return true;
}

bool RemoteBuffer::Read(size_t offset, void* data, size_t size) const {
  SIZE_T read = 0;
  if (!Fits(offset, size) ||
      !::ReadProcessMemory(process_.Get(),
                           static_cast<const char*>(address_) + offset, data,
                           size, &read) ||
      read != size) {
    PLOG(ERROR) << "Cannot read " << size << " bytes at " << offset;
    return false;
  }
  return true;
}

bool RemoteBuffer::Fits(size_t offset, size_t size) const {
  return offset <= size_ && size <= size_ - offset;
}
