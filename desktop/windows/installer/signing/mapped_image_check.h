#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_MAPPED_IMAGE_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_MAPPED_IMAGE_CHECK_H_

#include <windows.h>

#include <cstdint>
#include <span>

namespace installer {

// An image as the loader mapped it, a process's program or a library,
// against the bytes of the file it was checked as: the headers and the
// sections must hold the file's raw data, with the file's own base
// relocations applied for where the image lies. What a path led the
// loader to is proven so, whatever happened to the path after the check.
// Built from system calls alone: the host executable proves its library
// with it too.
class MappedImageCheck {
 public:
  // Which parts of the mapped image must equal the file.
  enum class Parts {
    // The headers and every section: an image in which no code has run,
    // touched only by the loader's relocation (a process created
    // suspended; its imports are bound once it runs).
    kWholeImage,
    // The headers and every section that no code may write, the import
    // address table left out: an image whose code has run.
    kUnwrittenSections,
  };

  enum class Result {
    kSame,
    // A byte differs: another image was mapped.
    kDifferent,
    // A part of the image cannot be read where the file puts it.
    kUnreadable,
    // The handle given does not allow reading the process.
    kNoAccess,
    // The file's layout is not one the loader maps as it is read here.
    kMalformed,
  };

  // Reads the memory the image is mapped in.
  class Memory {
   public:
    virtual ~Memory() = default;
    // Fills `bytes` from `address`; false when any of it cannot be read.
    virtual bool Read(uint64_t address, std::span<uint8_t> bytes) const = 0;
  };

  MappedImageCheck() = delete;

  // The program of `process` (read from its process environment block),
  // which needs PROCESS_QUERY_INFORMATION and PROCESS_VM_READ.
  static Result CheckProcess(HANDLE process,
                             std::span<const uint8_t> file,
                             Parts parts);
  // A module loaded in this process.
  static Result CheckModule(HMODULE module,
                            std::span<const uint8_t> file,
                            Parts parts);
  // The image mapped at `base`, read through `memory`.
  static Result Check(const Memory& memory,
                      uint64_t base,
                      std::span<const uint8_t> file,
                      Parts parts);

  // For a log line: "another image is mapped", ...
  static const char* Describe(Result result);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_MAPPED_IMAGE_CHECK_H_
