#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_REMOTE_BUFFER_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_REMOTE_BUFFER_H_

#include <windows.h>

#include <cstddef>
#include <memory>

#include "base/win/scoped_handle.h"

// Memory in another process, for the messages of common controls that carry
// pointers (a tree view's TVM_GETITEMW): the system copies no such message
// across processes, so what it points to must live in the receiver. Freed
// with the object.
class RemoteBuffer {
 public:
  // Null, with the error logged, when the process cannot be opened or the
  // memory cannot be had.
  static std::unique_ptr<RemoteBuffer> Create(DWORD process_id, size_t size);

  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;
  ~RemoteBuffer();

  // The buffer's address as the other process sees it.
  void* address() const { return address_; }
  size_t size() const { return size_; }

  // Copy `size` bytes at `offset` in or out; false, with the error logged,
  // when they do not fit or the copy fails.
  bool Write(size_t offset, const void* data, size_t size);
  bool Read(size_t offset, void* data, size_t size) const;

 private:
  struct ConstructionKey {};

 public:
  RemoteBuffer(ConstructionKey,
               base::win::ScopedHandle process,
               void* address,
               size_t size);

 private:
  bool Fits(size_t offset, size_t size) const;

  base::win::ScopedHandle process_;
  void* address_;
  size_t size_;
};

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_REMOTE_BUFFER_H_
