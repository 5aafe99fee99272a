#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_PE_IMAGE_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_PE_IMAGE_H_

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
  // within them as far as its certificate-table directory entry.
  static std::optional<PeImage> Parse(std::span<const uint8_t> bytes);

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
  // there is none or the certificate table does not lie within the image.
  std::span<const uint8_t> GetEmbeddedSignature() const;

  // What an Authenticode digest covers: everything but the checksum field,
  // the certificate-table directory entry and the certificate table. Empty
  // when the certificate table overlaps the headers or leaves the image.
  std::vector<Range> GetDigestedRanges() const;

  std::span<const uint8_t> bytes() const { return bytes_; }

 private:
  explicit PeImage(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  // The certificate table as a checked range of the image, if any.
  std::optional<Range> GetCertificateTable() const;

  std::span<const uint8_t> bytes_;
  size_t checksum_offset_ = 0;
  // Zero when the image has fewer than five data directories.
  size_t certificate_entry_offset_ = 0;
  uint32_t certificate_table_offset_ = 0;
  uint32_t certificate_table_size_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_PE_IMAGE_H_
