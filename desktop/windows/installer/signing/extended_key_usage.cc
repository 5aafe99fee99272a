#include "desktop/windows/installer/signing/extended_key_usage.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "desktop/windows/installer/signing/der_reader.h"

namespace installer {

namespace {

using Purpose = ExtendedKeyUsage::Purpose;

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kObjectIdentifier = 0x06;

// The contents of the purposes' object identifiers: 1.3.6.1.5.5.7.3.3,
// 1.3.6.1.5.5.7.3.8, and 2.5.29.37.0, any purpose.
constexpr uint8_t kCodeSigning[] = {0x2B, 0x06, 0x01, 0x05,
                                    0x05, 0x07, 0x03, 0x03};
constexpr uint8_t kTimeStamping[] = {0x2B, 0x06, 0x01, 0x05,
                                     0x05, 0x07, 0x03, 0x08};
constexpr uint8_t kAnyPurpose[] = {0x55, 0x1D, 0x25, 0x00};

struct PurposeIdentifier {
  Purpose purpose;
  std::span<const uint8_t> contents;
};

constexpr PurposeIdentifier kPurposeIdentifiers[] = {
    {Purpose::kCodeSigning, kCodeSigning},
    {Purpose::kTimeStamping, kTimeStamping},
};

std::span<const uint8_t> IdentifierOf(Purpose purpose) {
  for (const PurposeIdentifier& entry : kPurposeIdentifiers) {
    if (entry.purpose == purpose)
      return entry.contents;
  }
  return {};
}

// What a usage's value lists of one purpose.
struct Listing {
  bool named = false;
  bool any = false;
};

// The listing of `purpose` in `value`, a sequence of one identifier at
// least and nothing else; none for any other shape, which names nothing.
std::optional<Listing> ReadListing(std::span<const uint8_t> value,
                                   Purpose purpose) {
  DerReader outer(value);
  const std::optional<DerReader::Element> sequence = outer.Next(kSequence);
  if (!sequence || !outer.AtEnd() || sequence->contents.empty())
    return std::nullopt;
  const std::span<const uint8_t> wanted = IdentifierOf(purpose);
  Listing listing;
  DerReader purposes(sequence->contents);
  while (!purposes.AtEnd()) {
    const std::optional<DerReader::Element> identifier =
        purposes.Next(kObjectIdentifier);
    if (!identifier)
      return std::nullopt;
    listing.named |= std::ranges::equal(identifier->contents, wanted);
    listing.any |= std::ranges::equal(identifier->contents, kAnyPurpose);
  }
  return listing;
}

// Where a certificate's extended key usage stands.
enum class Extension : uint8_t {
  kAbsent,
  kOnce,
  // The standard allows an extension once; which one a reader takes is
  // anyone's guess, so such a certificate is good for nothing.
  kRepeated,
};

Extension FindExtension(const CERT_INFO& info,
                        std::span<const uint8_t>* value) {
  Extension found = Extension::kAbsent;
  for (DWORD i = 0; i < info.cExtension; ++i) {
    const CERT_EXTENSION& extension = info.rgExtension[i];
    if (!extension.pszObjId ||
        std::strcmp(extension.pszObjId, szOID_ENHANCED_KEY_USAGE) != 0) {
      continue;
    }
    if (found != Extension::kAbsent)
      return Extension::kRepeated;
    found = Extension::kOnce;
    *value = {extension.Value.pbData, extension.Value.cbData};
  }
  return found;
}

bool CertificateAllows(PCCERT_CONTEXT certificate, Purpose purpose) {
  std::span<const uint8_t> value;
  switch (FindExtension(*certificate->pCertInfo, &value)) {
    case Extension::kAbsent:
      return true;
    case Extension::kOnce:
      return ExtendedKeyUsage::Allows(value, purpose);
    case Extension::kRepeated:
      return false;
  }
  return false;
}

}  // namespace

// static
bool ExtendedKeyUsage::Allows(std::span<const uint8_t> value, Purpose purpose) {
  const std::optional<Listing> listing = ReadListing(value, purpose);
  return listing && (listing->named || listing->any);
}

// static
bool ExtendedKeyUsage::Names(std::span<const uint8_t> value, Purpose purpose) {
  const std::optional<Listing> listing = ReadListing(value, purpose);
  return listing && listing->named;
}

// static
bool ExtendedKeyUsage::CertificateNames(PCCERT_CONTEXT certificate,
                                        Purpose purpose) {
  std::span<const uint8_t> value;
  return FindExtension(*certificate->pCertInfo, &value) == Extension::kOnce &&
         Names(value, purpose);
}

// static
DWORD ExtendedKeyUsage::ChainStatus(const CERT_CHAIN_CONTEXT& chain,
                                    Purpose purpose) {
  for (DWORD i = 0; i < chain.cChain; ++i) {
    const CERT_SIMPLE_CHAIN& simple = *chain.rgpChain[i];
    for (DWORD j = 0; j < simple.cElement; ++j) {
      if (!CertificateAllows(simple.rgpElement[j]->pCertContext, purpose))
        return CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
    }
  }
  return CERT_TRUST_NO_ERROR;
}

}  // namespace installer
