#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PAYLOAD_READER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PAYLOAD_READER_H_

#include <cstdint>
#include <string>

#include "base/files/file_path.h"
#include "base/files/memory_mapped_file.h"

namespace installer {

// The data appended to an installer executable: tracking data, or a whole
// browser package (a 7z archive). It travels as the token "TRV", the payload
// and its length (32-bit little-endian), either at the end of the file or
// right before the certificate table, where the signature covers it. The
// file stays mapped for the reader's life; the constructor never fails:
// every problem becomes a type and a log line.
class PayloadReader {
 public:
  enum PayloadType : int32_t {
    kNone = 0,
    kTrackingData = 1,
    // Given from outside, never found in the file.
    kExternalTrackingData = 2,
    kFullPackage = 3,
    // Not a PE file, its certificate table runs past its end, or its
    // payload is damaged: neither a package nor short text, a package
    // outside the signature, or a package trailer that cannot be read.
    kCorrupted = 4,
  };

  explicit PayloadReader(const base::FilePath& path);
  PayloadReader(const PayloadReader&) = delete;
  PayloadReader& operator=(const PayloadReader&) = delete;
  ~PayloadReader();

  PayloadType type() const { return type_; }

  // Empty for kNone and kCorrupted; the external text for
  // kExternalTrackingData; else the payload's bytes.
  std::string GetPayloadData() const;
  void SetExternalTrackingData(const std::string& data);

  // False for kNone and kCorrupted, or when not every byte reached the file.
  bool WritePayloadToFile(const base::FilePath& path) const;
  // The file read, and for kFullPackage where in it the package lies, so
  // that it can be unpacked from there; false for any other type.
  const base::FilePath& path() const { return path_; }
  bool GetPackageRange(uint64_t* offset, uint64_t* length) const;

 private:
  PayloadType ReadPayload();
  // The file offset of the certificate table and its size, read through the
  // PE headers; false when the headers are missing or leave the file.
  bool ReadCertificateTableEntry(uint64_t* offset, uint64_t* size) const;
  // Whether a trailer ends at `position`; keeps its length and offset.
  bool FindPayloadStart(uint64_t position);
  // Whether a trailer ends before the certificate table at `table_offset`,
  // after the zero bytes that signing pads the signed part with.
  bool FindPayloadStartBeforeTable(uint64_t table_offset);
  bool IsSevenZipSignature() const;
  // Whether the payload can be tracking data: short, and text.
  bool IsTrackingText() const;
  // The file offset where the PE image's sections end and appended data
  // begins; 0 when the section table cannot be read.
  uint64_t GetImageEnd() const;
  // Whether the data after the image holds the head of a package trailer.
  bool HasPackageTrailerHead() const;

  const base::FilePath path_;
  base::MappedFile file_;
  std::string external_tracking_data_;
  uint64_t payload_length_ = 0;
  uint64_t payload_offset_ = 0;
  PayloadType type_ = kNone;
};

// "none", "tracking_data", "external_tracking_data", "full_package",
// "corrupted"; empty for any other value.
std::string PayloadTypeToString(int32_t type);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PAYLOAD_READER_H_
