#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_PE_IMAGE_READER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_PE_IMAGE_READER_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace installer {

// Reads what a crash log says of a module out of its PE file as it lies on
// disk (not as loaded). The file comes from a crashed process's module list
// and may be truncated or crafted: every offset is checked against the
// bytes given, so a bad file gives "not found", never a read past them.
// The work is bounded too: past a thousand sections or a few thousand
// resource entries a module answers what it found so far.
class PeImageReader {
 public:
  // Where the version resource search ended.
  enum class VersionResult {
    kFound,
    kNoResourceDirectory,
    kNoVersionResource,
    kNoVersionData,
  };

  // `data` must stay valid while the reader is used.
  PeImageReader(const uint8_t* data, size_t size);

  // Whether the DOS and PE headers are there; nothing else is answered
  // without them.
  bool IsValid() const { return valid_; }
  uint32_t timestamp() const { return timestamp_; }
  // BaseOfCode + SizeOfCode.
  uint64_t code_end() const { return code_end_; }

  // The DLL name of the export directory; false without one.
  bool GetExportName(std::string* name) const;
  // The version resource's "OriginalFilename" and "FileVersion" texts, each
  // empty when absent.
  VersionResult GetVersionStrings(std::string* original_file_name,
                                  std::string* file_version) const;

 private:
  struct Range {
    size_t offset = 0;
    size_t size = 0;
  };

  bool ReadHeaders();
  // The file bytes of `size` bytes at a relative virtual address; false
  // when no section holds them inside the data.
  bool RvaToRange(uint64_t rva, uint64_t size, Range* range) const;
  // The first `needed` bytes of a data directory.
  bool GetDataDirectory(uint32_t index,
                        size_t needed,
                        Range* range,
                        uint32_t* rva) const;
  // The subdirectory or data entry of `id` in the resource directory at
  // `directory_rva`; the first entry when `id` is negative. Looks at no
  // more entries than `budget` allows, and takes those it looked at off it.
  bool FindResourceEntry(uint32_t resources_rva,
                         uint32_t directory_rva,
                         int32_t id,
                         bool want_directory,
                         uint32_t* budget,
                         uint32_t* entry_rva) const;
  std::string ReadString(size_t offset, size_t max_length) const;

  template <typename T>
  bool Read(uint64_t offset, T* value) const;

  const uint8_t* const data_;
  const size_t size_;
  bool valid_ = false;
  uint32_t timestamp_ = 0;
  uint64_t code_end_ = 0;
  // File offsets of the section table and the data directories.
  size_t sections_offset_ = 0;
  uint32_t section_count_ = 0;
  size_t directories_offset_ = 0;
  uint32_t directory_count_ = 0;
};

// The value of the version resource string `key` (ASCII, matched ignoring
// case) in `data`, its 16-bit characters cut to their low byte, at most 127
// of them; empty when the key is not there.
std::string FindVersionString(const uint8_t* data,
                              size_t size,
                              const char* key);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_PE_IMAGE_READER_H_
