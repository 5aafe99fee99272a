// The readers of a signed file that need no system call (the PE image's
// layout and digested ranges, the DER walk of a signature, the certificate
// set made plain for the platform's decoder), built natively with clang's
// libFuzzer and its address and undefined-behaviour checks by
// bench/fuzz_signatures.py. Besides crashes it stops on a digest that
// leaves out anything but what the format leaves out, and on a set made
// plain that the walk would refuse: the decoder reads only walked shapes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "desktop/windows/installer/signing/certificate_set.h"
#include "desktop/windows/installer/signing/der_walker.h"
#include "desktop/windows/installer/signing/pe_image.h"

namespace {

using installer::CertificateSet;
using installer::DerWalker;
using installer::PeImage;

// The checksum field and the certificate-table entry.
constexpr size_t kExcludedHeaderBytes = 4 + 8;
constexpr size_t kChecksumBytes = 4;

void Require(bool holds) {
  if (!holds)
    __builtin_trap();
}

void CheckDigestedRanges(const PeImage& image, size_t size) {
  const std::vector<PeImage::Range> ranges = image.GetDigestedRanges();
  if (ranges.empty())
    return;
  size_t hashed = 0;
  size_t previous_end = 0;
  for (const PeImage::Range& range : ranges) {
    Require(range.begin >= previous_end && range.begin <= range.end &&
            range.end <= size);
    hashed += range.end - range.begin;
    previous_end = range.end;
  }
  const size_t left_out = size - hashed;
  if (image.has_certificate_table()) {
    Require(size_t{image.certificate_table_offset()} +
                image.certificate_table_size() ==
            size);
    Require(left_out == kExcludedHeaderBytes + image.certificate_table_size());
  } else {
    Require(left_out == kChecksumBytes || left_out == kExcludedHeaderBytes);
  }
}

// What the decoder is given for a walked signature: the set made plain is
// walked as well as the signature was, and no longer.
void CheckPlainCertificateSet(std::span<const uint8_t> signature) {
  if (DerWalker::Check(signature) != DerWalker::Fault::kNone)
    return;
  const std::optional<std::vector<uint8_t>> plain =
      CertificateSet::WithPlainCertificatesOnly(signature);
  if (!plain)
    return;
  Require(plain->size() <= signature.size());
  Require(DerWalker::Check(*plain) == DerWalker::Fault::kNone);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  if (const std::optional<PeImage> image = PeImage::Parse(bytes)) {
    CheckDigestedRanges(*image, size);
    const std::span<const uint8_t> signature = image->GetEmbeddedSignature();
    Require(signature.empty() || (signature.data() >= data &&
                                  signature.data() + signature.size() <=
                                      data + size));
    CheckPlainCertificateSet(signature);
  }
  CheckPlainCertificateSet(bytes);
  return 0;
}
