#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_PE_IMAGE_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_PE_IMAGE_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace installer {

// The headers of a PE32 or PE32+ image held in memory, read with every
// offset checked against the image's size. The bytes must outlive the
// object.
class PeImage {
 public:
  // A half-open byte range [begin, end) of the image.
  struct Range {
    size_t begin;
    size_t end;
  };

  // Null unless `bytes` start with the DOS magic, hold the PE signature where
  // e_lfanew points, and carry a PE32 or PE32+ optional header that lies
  // within them as far as its certificate-table directory entry. The
  // section table is read only when a digest or the signature is asked for.
  static std::optional<PeImage> Parse(std::span<const uint8_t> bytes);
  // The same for `bytes` that are the whole view of the file held open on
  // `held_file` (read-only to all while held, so both hold the same bytes):
  // its digest reads the file through the handle a bounded piece at a time
  // (ComputeAuthenticodeDigest), so that proving an installer of 96 MB
  // leaves the view's pages untouched, not resident. Null `held_file`: as
  // Parse.
  static std::optional<PeImage> Parse(std::span<const uint8_t> bytes,
                                      HANDLE held_file);

  // Whether `bytes` start with the DOS magic and hold the PE signature where
  // e_lfanew points, whatever follows: enough for Windows to take the file
  // for an image to load or run, well-formed or not.
  static bool HasPeSignature(std::span<const uint8_t> bytes);

  // Whether the certificate-table directory entry has a non-zero size.
  bool has_certificate_table() const { return certificate_table_size_ != 0; }
  // The certificate-table directory entry as it stands: the table's file
  // offset and size.
  uint32_t certificate_table_offset() const {
    return certificate_table_offset_;
  }
  uint32_t certificate_table_size() const { return certificate_table_size_; }

  // The PKCS #7 signed data of the first attribute certificate; empty when
  // there is none, the image's layout is malformed, or the certificate table
  // does not lie after the headers and every section's raw data.
  std::span<const uint8_t> GetEmbeddedSignature() const;

  // What the Authenticode digest covers, in the order it is hashed: the
  // headers (SizeOfHeaders) but for the checksum field and the
  // certificate-table directory entry, each section's raw data in the order
  // of their file offsets, then what follows the last section up to the
  // certificate table. Empty (refused) unless the sections' raw data follow
  // the headers back to back within the image, and the certificate table,
  // if any, lies after them and ends the image: the format leaves nothing
  // else out, so no byte of the file goes unhashed.
  std::vector<Range> GetDigestedRanges() const;

  std::span<const uint8_t> bytes() const { return bytes_; }
  // The held file `bytes` are the view of; null when none was given.
  HANDLE held_file() const { return held_file_; }

 private:
  explicit PeImage(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  // The headers and the sections' raw data, back to back: [0, end). Null
  // when they are not, or leave the image.
  std::optional<size_t> GetEndOfSections() const;

  // The certificate table as a checked range of the image, lying after the
  // headers and every section's raw data; null if there is none or it lies
  // elsewhere.
  std::optional<Range> GetCertificateTable() const;

  std::span<const uint8_t> bytes_;
  HANDLE held_file_ = nullptr;
  size_t size_of_headers_ = 0;
  size_t section_count_ = 0;
  // The end of the optional header as its size in the file header says,
  // where the section table starts.
  size_t optional_header_end_ = 0;
  size_t checksum_offset_ = 0;
  // Zero when the image has fewer than five data directories.
  size_t certificate_entry_offset_ = 0;
  uint32_t certificate_table_offset_ = 0;
  uint32_t certificate_table_size_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_PE_IMAGE_H_
