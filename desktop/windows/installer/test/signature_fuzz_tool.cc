// A mutation loop over signatures for the platform's decoder, which only a
// Windows program (here under Wine) can drive; bench/fuzz_signatures.py runs
// it and restarts it after a crash.
//   signature_fuzz_tool checked|unchecked FIRST COUNT CASE IMAGE SEED...
// mutates the SEED signatures (DER PKCS #7 signed data) into the cases
// FIRST to FIRST+COUNT-1, each a function of its number alone, writes each
// to the file CASE before reading it, so that a crash leaves it there, and
// reads it. Mutations change the DER tree or its bytes anywhere, or a
// certificate of the signature where the platform reads it before anything
// is proven: its extensions (key usage, basic constraints, purposes,
// alternative names and the rest, in the shapes the standard allows and in
// others), its subject (empty, without a common name, of odd strings; a
// certificate authority renamed together with what names it as issuer)
// and its key (its bits' own DER changed, or shapes no key has).
// "checked" writes CASE as the signed image IMAGE carrying the case as its
// signature and reads it as the installer does: the full signature check,
// every other case with a report, the check of a program's own signer, and
// each signer's certificate chain built with the signature's certificates.
// "unchecked" writes the bare signature and hands it to CryptQueryObject as
// it comes, each signer's chain built. Every 64 cases the process heap is
// validated.
//   signature_fuzz_tool replay CASE          reads one saved bare case,
//                                            unchecked.
//   signature_fuzz_tool replay-checked CASE  reads one saved image, checked.
// Prints "cases N opened N refused N" and exits with 0, or 3 when the heap
// was found damaged. Each case's number goes to stderr before it is read.

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "desktop/windows/installer/signing/held_image_file.h"
#include "desktop/windows/installer/signing/scoped_cert_store.h"
#include "desktop/windows/installer/signing/scoped_crypt_msg.h"
#include "desktop/windows/installer/signing/scoped_crypt_objects.h"
#include "desktop/windows/installer/signing/signature_verifier.h"
#include "desktop/windows/installer/signing/signed_message.h"
#include "desktop/windows/installer/signing/signer_certificate.h"
#include "desktop/windows/installer/test/der_builder.h"

namespace {

using installer::der_builder::Bytes;
using installer::der_builder::AppendLength;
using installer::der_builder::Tlv;
using installer::der_builder::Cat;
using installer::der_builder::Seq;
using installer::der_builder::Set;
using installer::der_builder::Oid;
using installer::ScopedCertStore;
using installer::ScopedCryptMsg;

constexpr char kNestedSignatureOid[] = "1.3.6.1.4.1.311.2.4.1";
constexpr int kHeapCheckInterval = 64;

// splitmix64: a case is a function of its number alone.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t Below(size_t bound) { return bound ? Next() % bound : 0; }
  bool OneIn(size_t count) { return Below(count) == 0; }
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[Below(items.size())];
  }

 private:
  uint64_t state_;
};

// A DER element as a tree, so that a mutation deep inside keeps every
// enclosing length right and reaches the decoder's inner readers.
struct Node {
  uint8_t tag = 0;
  Bytes contents;             // primitive
  std::vector<Node> children; // constructed
};

bool ParseElements(const uint8_t* data, size_t size, std::vector<Node>* out,
                   int depth);

bool ParseElement(const uint8_t* data, size_t size, size_t* used, Node* node,
                  int depth) {
  if (size < 2 || depth > 80)
    return false;
  node->tag = data[0];
  size_t length = data[1];
  size_t header = 2;
  if (length & 0x80) {
    const size_t count = length & 0x7F;
    if (count == 0 || count > 4 || size < 2 + count)
      return false;
    length = 0;
    for (size_t i = 0; i < count; ++i)
      length = (length << 8) | data[2 + i];
    header += count;
  }
  if (length > size - header)
    return false;
  *used = header + length;
  if (node->tag & 0x20)
    return ParseElements(data + header, length, &node->children, depth + 1);
  node->contents.assign(data + header, data + header + length);
  return true;
}

bool ParseElements(const uint8_t* data, size_t size, std::vector<Node>* out,
                   int depth) {
  size_t offset = 0;
  while (offset < size) {
    Node node;
    size_t used = 0;
    if (!ParseElement(data + offset, size - offset, &used, &node, depth))
      return false;
    out->push_back(std::move(node));
    offset += used;
  }
  return true;
}

void Serialize(const Node& node, Bytes* out) {
  Bytes body;
  if (node.tag & 0x20) {
    for (const Node& child : node.children)
      Serialize(child, &body);
  } else {
    body = node.contents;
  }
  out->push_back(node.tag);
  AppendLength(body.size(), out);
  out->insert(out->end(), body.begin(), body.end());
}

void Collect(Node* node, std::vector<Node*>* all) {
  all->push_back(node);
  for (Node& child : node->children)
    Collect(&child, all);
}

constexpr uint8_t kInterestingBytes[] = {0x00, 0x01, 0x05, 0x06, 0x30, 0x31,
                                         0x7F, 0x80, 0x81, 0x82, 0x84, 0xA0,
                                         0xFF};

// One change of the tree that keeps it encodable.
void MutateTree(Node* root, Random* random) {
  std::vector<Node*> all;
  Collect(root, &all);
  Node* node = all[random->Below(all.size())];
  switch (random->Below(7)) {
    case 0:  // An empty element of its kind: an empty OID among them.
      node->contents.clear();
      node->children.clear();
      break;
    case 1:  // Cut its contents.
      if (!node->contents.empty())
        node->contents.resize(random->Below(node->contents.size()));
      else if (!node->children.empty())
        node->children.resize(random->Below(node->children.size()));
      break;
    case 2:  // Another tag, constructed or not.
      node->tag = kInterestingBytes[random->Below(sizeof(kInterestingBytes))];
      if (node->tag & 0x20) {
        node->contents.clear();
      } else {
        Bytes flat;
        for (const Node& child : node->children)
          Serialize(child, &flat);
        node->children.clear();
        node->contents = flat;
      }
      break;
    case 3:  // Duplicate a child.
      if (!node->children.empty()) {
        node->children.push_back(
            node->children[random->Below(node->children.size())]);
      }
      break;
    case 4:  // A byte of the contents set.
      if (!node->contents.empty()) {
        node->contents[random->Below(node->contents.size())] =
            kInterestingBytes[random->Below(sizeof(kInterestingBytes))];
      }
      break;
    case 5:  // Nest it deeper.
      if (node != root) {
        Node inner = *node;
        node->tag = 0x30;
        node->contents.clear();
        node->children.assign(1 + random->Below(3), inner);
      }
      break;
    default:  // Swap in another element of the tree.
      if (node != root) {
        const Node other = *all[random->Below(all.size())];
        *node = other;
      }
      break;
  }
}

// One change of the bytes as they stand: lengths and tags that lie.
void MutateBytes(Bytes* bytes, Random* random) {
  if (bytes->empty())
    return;
  const size_t at = random->Below(bytes->size());
  switch (random->Below(5)) {
    case 0:
      (*bytes)[at] ^= static_cast<uint8_t>(1u << random->Below(8));
      break;
    case 1:
      (*bytes)[at] = kInterestingBytes[random->Below(sizeof(kInterestingBytes))];
      break;
    case 2:
      bytes->resize(at);
      break;
    case 3:
      bytes->erase(bytes->begin() + at,
                   bytes->begin() + std::min(bytes->size(), at + 1 + random->Below(16)));
      break;
    default:
      bytes->insert(bytes->begin() + at, 1 + random->Below(8),
                    kInterestingBytes[random->Below(sizeof(kInterestingBytes))]);
      break;
  }
}

Bytes Text(const char* text) { return Bytes(text, text + std::strlen(text)); }

Bytes Repeat(const Bytes& part, size_t count) {
  Bytes out;
  for (size_t i = 0; i < count; ++i)
    out.insert(out.end(), part.begin(), part.end());
  return out;
}

// Object identifier contents.
const Bytes kCommonName = {0x55, 0x04, 0x03};
const Bytes kOrganization = {0x55, 0x04, 0x0A};
const Bytes kEmail = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x01};
const Bytes kCodeSigning = {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x03};
const Bytes kAnyPurpose = {0x55, 0x1D, 0x25, 0x00};
const Bytes kKeyUsage = {0x55, 0x1D, 0x0F};
const Bytes kBasicConstraints = {0x55, 0x1D, 0x13};
const Bytes kSubjectAltName = {0x55, 0x1D, 0x11};

// The extensions the platform reads while it builds a chain or names a
// certificate, and some it only decodes.
const std::vector<Bytes> kExtensionTypes = {
    kKeyUsage,
    kBasicConstraints,
    {0x55, 0x1D, 0x0A},  // basic constraints, first version
    {0x55, 0x1D, 0x25},  // extended key usage
    kSubjectAltName,
    {0x55, 0x1D, 0x12},  // issuer alternative name
    {0x55, 0x1D, 0x07},  // alternative name, first version
    {0x55, 0x1D, 0x1E},  // name constraints
    {0x55, 0x1D, 0x20},  // certificate policies
    {0x55, 0x1D, 0x24},  // policy constraints
    {0x55, 0x1D, 0x23},  // authority key identifier
    {0x55, 0x1D, 0x01},  // authority key identifier, first version
    {0x55, 0x1D, 0x0E},  // subject key identifier
    {0x55, 0x1D, 0x04},  // key usage restriction
    {0x55, 0x1D, 0x1F},  // CRL distribution points
    {0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x01, 0x01},  // authority info access
    {0x60, 0x86, 0x48, 0x01, 0x86, 0xF8, 0x42, 0x01, 0x01},  // certificate type
    {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x0A, 0x03, 0x0A},
    // application policies
    {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x15, 0x0A},
};

Bytes BitStringShape(Random* random) {
  switch (random->Below(8)) {
    case 0:
      return {0x03, 0x01, 0x00};  // no bit at all
    case 1:
      return {0x03, 0x02, 0x00, 0x00};  // eight bits, none set
    case 2:
      return {0x03, 0x02, 0x07, 0x80};
    case 3:
      return {0x03, 0x02, 0x07, 0x7F};  // set only where unused
    case 4:
      return {0x03, 0x03, 0x07, 0x00, 0x80};
    case 5:
      return {0x03, 0x02, 0x00, 0xFF};
    default: {
      const size_t size = 2 + random->Below(random->OneIn(4) ? 600 : 20);
      Bytes contents(size, 0xFF);
      contents[0] = static_cast<uint8_t>(random->Below(8));
      return Tlv(0x03, contents);
    }
  }
}

Bytes IntegerShape(Random* random) {
  const std::vector<Bytes> integers = {
      {0x02, 0x01, 0x00},
      {0x02, 0x01, 0x7F},
      {0x02, 0x01, 0x80},  // negative
      {0x02, 0x01, 0xFF},
      {0x02, 0x04, 0x7F, 0xFF, 0xFF, 0xFF},
      {0x02, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF},
      {0x02, 0x09, 0x01, 0, 0, 0, 0, 0, 0, 0, 0},
      Tlv(0x02, Bytes(40, 0x11)),
  };
  return random->Pick(integers);
}

Bytes BasicConstraintsShape(Random* random) {
  const uint8_t authority = random->OneIn(2) ? 0xFF : 0x00;
  const Bytes flag = {0x01, 0x01, authority};
  switch (random->Below(7)) {
    case 0:
      return Seq({});
    case 1:
      return Seq({flag});
    case 2:
      return Seq({flag, IntegerShape(random)});
    case 3:
      return Seq({IntegerShape(random)});
    case 4:
      return Seq({IntegerShape(random), flag});
    case 5:
      return Seq({flag, flag, IntegerShape(random)});
    default:  // the first version's shape
      return Seq({BitStringShape(random), IntegerShape(random), Seq({})});
  }
}

Bytes PurposesShape(Random* random) {
  switch (random->Below(6)) {
    case 0:
      return Seq({});
    case 1:
      return Seq({Oid(kCodeSigning)});
    case 2:
      return Seq({Oid(kAnyPurpose), Oid(kCodeSigning)});
    case 3:
      return Tlv(0x30, Repeat(Oid(kCodeSigning), 1 + random->Below(2000)));
    case 4:
      return Seq({Oid(kCodeSigning), Tlv(0x0C, Text("code"))});
    default:
      return Seq({Oid({0x2A, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0x8F, 0xFF, 0xFF,
                       0xFF, 0x7F})});
  }
}

Bytes StringShape(Random* random) {
  const std::vector<uint8_t> kinds = {0x0C, 0x13, 0x14, 0x16, 0x1E,
                                      0x1C, 0x1A, 0x12, 0x15, 0x1B};
  const uint8_t kind = random->Pick(kinds);
  switch (random->Below(7)) {
    case 0:
      return Tlv(kind, {});
    case 1:
      return Tlv(kind, Text("Tarvo Software Test Signing"));
    case 2:
      return Tlv(kind, {0x00, 0x41, 0x00});  // odd for two- and four-byte text
    case 3:
      return Tlv(kind, {0xFF, 0xFE, 0xC0, 0x80, 0xED, 0xA0, 0x80});
    case 4:
      return Tlv(kind, Bytes(1 + random->Below(9000), 'A'));
    case 5:
      return Tlv(kind, {'A', 0x00, 'B'});
    default:
      return Tlv(kind, {0x00, 0x00, 0xD8, 0x00});  // a lone surrogate
  }
}

Bytes NameShape(Random* random);

Bytes GeneralNameShape(Random* random) {
  switch (random->Below(10)) {
    case 0:  // another name
      return Tlv(0xA0, Cat({Oid({0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37,
                                 0x14, 0x02, 0x03}),
                            Tlv(0xA0, StringShape(random))}));
    case 1:
      return Tlv(0x81, random->OneIn(2) ? Text("a@b.test") : Bytes());
    case 2:
      return Tlv(0x82, random->OneIn(2) ? Text("tarvo.test") : Bytes());
    case 3:  // an X.400 address
      return Tlv(0xA3, random->OneIn(2) ? Seq({}) : Bytes());
    case 4:  // a directory name
      return Tlv(0xA4, NameShape(random));
    case 5:  // an EDI party
      return Tlv(0xA5, random->OneIn(2) ? Tlv(0xA1, StringShape(random))
                                        : Bytes());
    case 6:
      return Tlv(0x86, random->OneIn(2) ? Text("http://tarvo.test/") : Bytes());
    case 7: {  // an address, of a family's size or not
      const std::vector<size_t> sizes = {0, 1, 4, 5, 8, 16, 17, 32, 300};
      return Tlv(0x87, Bytes(random->Pick(sizes), 0x7F));
    }
    case 8:  // a registered id
      return Tlv(0x88, random->OneIn(3) ? Bytes() : Bytes{0x2A, 0x03, 0x04});
    default:
      return Tlv(0xA4, Seq({}));
  }
}

Bytes GeneralNamesShape(Random* random) {
  Bytes names;
  const size_t count = random->OneIn(8) ? 0 : 1 + random->Below(3);
  for (size_t i = 0; i < count; ++i) {
    const Bytes name = GeneralNameShape(random);
    names.insert(names.end(), name.begin(), name.end());
  }
  return Tlv(0x30, names);
}

Bytes Attribute(const Bytes& type, const Bytes& value) {
  return Seq({Oid(type), value});
}

Bytes NameShape(Random* random) {
  const Bytes organization =
      Set({Attribute(kOrganization, Tlv(0x0C, Text("Tarvo Software")))});
  switch (random->Below(9)) {
    case 0:
      return Seq({});
    case 1:
      return Seq({Set({})});
    case 2:  // no common name
      return Seq({organization});
    case 3:
      return Seq({organization,
                  Set({Attribute(kCommonName, StringShape(random))})});
    case 4: {  // a common name that is no text
      const std::vector<Bytes> values = {{0x02, 0x01, 0x05}, {0x05, 0x00},
                                         Seq({}), {0x04, 0x00},
                                         {0x01, 0x01, 0xFF}};
      return Seq({Set({Attribute(kCommonName, random->Pick(values))})});
    }
    case 5:  // a common name with no value
      return Seq({Set({Seq({Oid(kCommonName)})})});
    case 6:  // two, and a set of two
      return Seq({Set({Attribute(kCommonName, StringShape(random)),
                       Attribute(kOrganization, StringShape(random))}),
                  Set({Attribute(kCommonName, StringShape(random))})});
    case 7:
      return Seq({Set({Attribute(kEmail, StringShape(random))})});
    default:
      return Seq({organization, Set({Attribute(kCommonName, Text("x"))})});
  }
}

Bytes ExtensionValueOfFamily(size_t family, Random* random) {
  switch (family) {
    case 0:
      return BitStringShape(random);
    case 1:
      return BasicConstraintsShape(random);
    case 2:
      return PurposesShape(random);
    case 3:
      return GeneralNamesShape(random);
    case 4: {  // subtrees of names, with their bounds
      const Bytes subtree =
          Seq({GeneralNameShape(random), Tlv(0x80, {0x00}),
               Tlv(0x81, random->OneIn(2) ? Bytes{0x05} : Bytes{0x80})});
      return Seq({Tlv(0xA0, Seq({subtree})), Tlv(0xA1, Seq({subtree}))});
    }
    case 5: {  // policies
      const Bytes qualifier =
          Seq({Oid({0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x02, 0x01}),
               StringShape(random)});
      if (random->OneIn(3))
        return Seq({});
      return Seq({Seq({Oid(kAnyPurpose), Seq({qualifier})})});
    }
    case 6:  // an authority key identifier
      return Seq({Tlv(0x80, Bytes(random->Below(40), 0xAB)),
                  Tlv(0xA1, GeneralNamesShape(random)),
                  Tlv(0x82, random->OneIn(2) ? Bytes{0x01} : Bytes())});
    case 7:
      return Tlv(0x04, Bytes(random->Below(80), 0xCD));
    default:
      return Seq({BitStringShape(random), IntegerShape(random)});
  }
}

// The value's family is the type's most of the time, any other else.
Bytes ExtensionValue(size_t type, Random* random) {
  static constexpr size_t kFamilies = 9;
  static constexpr size_t kFamilyOfType[] = {0, 1, 8, 2, 3, 3, 3, 4, 5,
                                             1, 6, 6, 7, 8, 3, 3, 0, 2, 5};
  static_assert(std::size(kFamilyOfType) == 19);
  const size_t family =
      random->OneIn(4) ? random->Below(kFamilies) : kFamilyOfType[type];
  return ExtensionValueOfFamily(family, random);
}

// The bits of a public key, which the platform decodes once more when it
// verifies a signature with it: the key's own DER changed as a tree, or put
// in a shape no key has.
Bytes KeyBitsShape(const Bytes& bits, Random* random);

Node ToNode(const Bytes& der) {
  Node node;
  size_t used = 0;
  ParseElement(der.data(), der.size(), &used, &node, 0);
  return node;
}

// A certificate's to-be-signed part: its version, serial, algorithm,
// issuer, validity, subject, key and, from the third version, extensions.
constexpr size_t kIssuerIndex = 3;
constexpr size_t kSubjectIndex = 5;
constexpr size_t kKeyIndex = 6;
bool IsToBeSigned(const Node& node) {
  return node.tag == 0x30 && node.children.size() >= 7 &&
         node.children[0].tag == 0xA0 && node.children[1].tag == 0x02 &&
         node.children[kIssuerIndex].tag == 0x30 &&
         node.children[kSubjectIndex].tag == 0x30;
}

bool SameNode(const Node& a, const Node& b) {
  Bytes left, right;
  Serialize(a, &left);
  Serialize(b, &right);
  return left == right;
}

// The extensions of `certificate`, a field of its own made when it has none.
std::vector<Node>* Extensions(Node* certificate) {
  for (Node& field : certificate->children) {
    if (field.tag == 0xA3) {
      if (field.children.empty() || field.children[0].tag != 0x30)
        field.children.assign(1, ToNode(Seq({})));
      return &field.children[0].children;
    }
  }
  certificate->children.push_back(ToNode(Tlv(0xA3, Seq({}))));
  return &certificate->children.back().children[0].children;
}

void SetExtension(Node* certificate, const Bytes& type, const Bytes& value,
                  Random* random) {
  const Bytes critical = random->OneIn(2) ? Bytes{0x01, 0x01, 0xFF} : Bytes();
  const Node extension =
      ToNode(Seq({Oid(type), critical, Tlv(0x04, value)}));
  std::vector<Node>* extensions = Extensions(certificate);
  if (!random->OneIn(8)) {  // else a second of the type
    for (Node& existing : *extensions) {
      if (!existing.children.empty() && existing.children[0].tag == 0x06 &&
          existing.children[0].contents == type) {
        existing = extension;
        return;
      }
    }
  }
  extensions->push_back(extension);
}

// Every name equal to `old_name` becomes `new_name`: a certificate renamed,
// the certificates and signers that name it as issuer with it.
void Rename(Node* node, const Node& old_name, const Node& new_name) {
  if (node->tag == 0x30 && SameNode(*node, old_name)) {
    *node = new_name;
    return;
  }
  for (Node& child : node->children)
    Rename(&child, old_name, new_name);
}

Bytes KeyBitsShape(const Bytes& bits, Random* random) {
  const Bytes rsa_key =
      bits.empty() ? Bytes() : Bytes(bits.begin() + 1, bits.end());
  const Bytes modulus = Tlv(0x02, Cat({{0x00, 0xC0}, Bytes(255, 0x01)}));
  const Bytes exponent = {0x02, 0x03, 0x01, 0x00, 0x01};
  switch (random->Below(8)) {
    case 0: {
      Node key;
      size_t used = 0;
      if (!ParseElement(rsa_key.data(), rsa_key.size(), &used, &key, 0))
        return bits;
      for (size_t i = 1 + random->Below(2); i > 0; --i)
        MutateTree(&key, random);
      Bytes out = {0x00};
      Serialize(key, &out);
      return out;
    }
    case 1:
      return {0x00};
    case 2:
      return Cat({{0x00}, Seq({})});
    case 3:
      return Cat({{0x00}, Seq({Tlv(0x02, {}), Tlv(0x02, {})})});
    case 4:
      return Cat({{0x00}, Seq({Tlv(0x02, Bytes(1 + random->Below(3000), 0x81)),
                               exponent})});
    case 5:
      return Cat({{0x00},
                  Seq({modulus, Tlv(0x02, Bytes(1 + random->Below(64), 0xFF))})});
    case 6:
      return Cat({{0x00}, Seq({{0x02, 0x01, 0x00}, {0x02, 0x01, 0x00}})});
    default:  // a count of unused bits under a whole key
      return Cat({{static_cast<uint8_t>(random->Below(8))}, rsa_key});
  }
}

// One change of a certificate of the signature where the platform reads it
// unproven: an extension set, one dropped, its subject or its key changed.
void MutateCertificate(Node* root, Random* random) {
  std::vector<Node*> all;
  Collect(root, &all);
  std::vector<Node*> certificates;
  for (Node* node : all) {
    if (IsToBeSigned(*node))
      certificates.push_back(node);
  }
  if (certificates.empty())
    return;
  Node* certificate = random->Pick(certificates);
  switch (random->Below(7)) {
    case 0:
    case 1:
    case 2: {
      const size_t type = random->Below(kExtensionTypes.size());
      SetExtension(certificate, kExtensionTypes[type],
                   ExtensionValue(type, random), random);
      break;
    }
    case 3: {
      std::vector<Node>* extensions = Extensions(certificate);
      if (!extensions->empty())
        extensions->erase(extensions->begin() +
                          random->Below(extensions->size()));
      break;
    }
    case 4: {  // renamed, with what names it as issuer
      const Node old_name = certificate->children[kSubjectIndex];
      Rename(root, old_name, ToNode(NameShape(random)));
      break;
    }
    case 5: {  // its key's bits
      Node& key = certificate->children[kKeyIndex];
      if (key.tag == 0x30 && key.children.size() == 2 &&
          key.children[1].tag == 0x03) {
        key.children[1].contents =
            KeyBitsShape(key.children[1].contents, random);
      }
      break;
    }
    default:  // its subject alone, alternative names beside it
      certificate->children[kSubjectIndex] = ToNode(NameShape(random));
      if (random->OneIn(2)) {
        SetExtension(certificate, kSubjectAltName, GeneralNamesShape(random),
                     random);
      }
      break;
  }
}

Bytes MakeCase(const std::vector<Bytes>& seeds, uint64_t number) {
  Random random(number * 0x2545F4914F6CDD1Dull + 1);
  const Bytes& seed = seeds[number % seeds.size()];
  Bytes bytes = seed;
  Node root;
  size_t used = 0;
  const size_t changes = 1 + random.Below(4);
  // Mostly certificates, well formed; then the tree and the bytes anywhere.
  const size_t kind = random.Below(8);
  if (kind < 7 && ParseElement(seed.data(), seed.size(), &used, &root, 0)) {
    for (size_t i = 0; i < changes; ++i) {
      if (kind < 6)
        MutateCertificate(&root, &random);
      if (kind >= 5)
        MutateTree(&root, &random);
    }
    bytes.clear();
    Serialize(root, &bytes);
    if (kind == 6 && random.OneIn(4))
      MutateBytes(&bytes, &random);
  } else {
    for (size_t i = 0; i < changes; ++i)
      MutateBytes(&bytes, &random);
  }
  return bytes;
}

struct Counts {
  uint64_t cases = 0;
  uint64_t opened = 0;
  uint64_t refused = 0;
};

void BuildChain(PCCERT_CONTEXT certificate, HCERTSTORE store) {
  CERT_CHAIN_PARA parameters = {sizeof(parameters)};
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (::CertGetCertificateChain(nullptr, certificate, nullptr, store,
                                &parameters, 0, nullptr, &chain)) {
    ::CertFreeCertificateChain(chain);
  }
}

// Reads `signature` as far as the decoder and the chain engine go, nested
// signatures once deep: each signer's chain is built whatever its proof,
// which the installer builds only for a proven one.
void ReadSignature(const Bytes& signature, bool checked, int depth,
                   Counts* counts) {
  ScopedCertStore store;
  ScopedCryptMsg message;
  DWORD encoding = 0;
  const DWORD error =
      checked ? installer::OpenSignedMessage(signature, &store, &message,
                                             &encoding)
              : installer::internal::DecodeSignedMessage(signature, &store,
                                                         &message, &encoding);
  if (error == static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT) && checked)
    ++counts->refused;
  if (error != 0)
    return;
  if (depth == 0)
    ++counts->opened;
  DWORD count = 0;
  DWORD count_size = sizeof(count);
  if (!::CryptMsgGetParam(message.Get(), CMSG_SIGNER_COUNT_PARAM, 0, &count,
                          &count_size)) {
    return;
  }
  for (DWORD index = 0; index < count && index < 4; ++index) {
    std::vector<uint8_t> buffer;
    const CMSG_SIGNER_INFO* info =
        installer::GetSignerInfo(message.Get(), index, &buffer);
    if (!info)
      continue;
    installer::ScopedCertContext certificate =
        installer::FindSignerCertificate(store.Get(), message.Get(), index);
    if (certificate)
      BuildChain(certificate.get(), store.Get());
    for (DWORD i = 0; depth == 0 && i < info->UnauthAttrs.cAttr; ++i) {
      const CRYPT_ATTRIBUTE& attribute = info->UnauthAttrs.rgAttr[i];
      if (attribute.pszObjId &&
          std::strcmp(attribute.pszObjId, kNestedSignatureOid) == 0 &&
          attribute.cValue != 0) {
        const CRYPT_ATTR_BLOB& value = attribute.rgValue[0];
        ReadSignature(Bytes(value.pbData, value.pbData + value.cbData),
                      checked, depth + 1, counts);
      }
    }
  }
}

// The offset of the certificate-table directory entry of a PE image.
size_t CertificateTableEntry(const Bytes& image) {
  uint32_t pe = 0;
  uint16_t magic = 0;
  std::memcpy(&pe, image.data() + 0x3C, sizeof(pe));
  std::memcpy(&magic, image.data() + pe + 24, sizeof(magic));
  return pe + 24 + (magic == 0x20B ? 112 : 96) + 4 * 8;
}

// `image` (a signed PE) with `signature` as its one attribute certificate.
Bytes ImageSignedWith(const Bytes& image, const Bytes& signature) {
  const size_t entry = CertificateTableEntry(image);
  uint32_t table = 0;
  std::memcpy(&table, image.data() + entry, sizeof(table));
  Bytes out(image.begin(), image.begin() + table);
  const uint32_t length = static_cast<uint32_t>(8 + signature.size());
  const uint32_t padded = (length + 7) & ~7u;
  const uint16_t revision = 0x0200;
  const uint16_t type = 0x0002;  // PKCS #7 signed data
  out.resize(table + 8);
  std::memcpy(out.data() + table, &length, 4);
  std::memcpy(out.data() + table + 4, &revision, 2);
  std::memcpy(out.data() + table + 6, &type, 2);
  out.insert(out.end(), signature.begin(), signature.end());
  out.resize(table + padded);
  std::memcpy(out.data() + entry + 4, &padded, 4);
  return out;
}

// Reads the image at `path` as the installer does: the whole signature
// check, with a report or without (`with_report`), and the check a program
// makes of a file it runs against its own signer.
void ReadSignedFile(const wchar_t* path,
                    const installer::SignerCertificate& program,
                    bool with_report) {
  std::string report;
  installer::VerifyFileSignature(base::FilePath(path),
                                 with_report ? &report : nullptr);
  installer::HeldImageFile held;
  if (held.Open(path) == 0)
    program.Check(held);
}

bool ReadFile(const wchar_t* path, Bytes* bytes) {
  std::string text;
  if (!base::ReadFileToString(base::FilePath(path), &text))
    return false;
  bytes->assign(text.begin(), text.end());
  return true;
}

bool WriteCase(const wchar_t* path, const Bytes& bytes) {
  return base::WriteBufferToFile(base::FilePath(path),
                                 reinterpret_cast<const char*>(bytes.data()),
                                 static_cast<int>(bytes.size())) ==
         static_cast<int>(bytes.size());
}

// The signer of `image`, whom the program check holds files to.
std::optional<installer::SignerCertificate> ProgramSigner(const Bytes& image) {
  std::optional<installer::SignerCertificate> signer =
      installer::SignerCertificate::OfImage(image);
  if (!signer || !signer->is_signed())
    return std::nullopt;
  return signer;
}

void PrintCounts(const Counts& counts) {
  std::printf("cases %llu opened %llu refused %llu\n",
              static_cast<unsigned long long>(counts.cases),
              static_cast<unsigned long long>(counts.opened),
              static_cast<unsigned long long>(counts.refused));
}

int Usage() {
  std::fprintf(stderr,
               "usage: signature_fuzz_tool checked|unchecked FIRST COUNT CASE "
               "IMAGE SEED...\n       signature_fuzz_tool replay CASE\n"
               "       signature_fuzz_tool replay-checked CASE\n");
  return 2;
}

int Replay(const wchar_t* path, bool checked) {
  Bytes bytes;
  if (!ReadFile(path, &bytes))
    return 2;
  Counts counts;
  if (checked) {
    const std::optional<installer::SignerCertificate> program =
        ProgramSigner(bytes);
    if (program) {
      ReadSignedFile(path, *program, true);
      ReadSignedFile(path, *program, false);
    }
  } else {
    ReadSignature(bytes, false, 0, &counts);
  }
  counts.cases = 1;
  PrintCounts(counts);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wcscmp(argv[1], L"replay") == 0)
    return Replay(argv[2], false);
  if (argc == 3 && std::wcscmp(argv[1], L"replay-checked") == 0)
    return Replay(argv[2], true);
  if (argc < 7)
    return Usage();
  const bool checked = std::wcscmp(argv[1], L"checked") == 0;
  if (!checked && std::wcscmp(argv[1], L"unchecked") != 0)
    return Usage();
  const uint64_t first = std::wcstoull(argv[2], nullptr, 10);
  const uint64_t count = std::wcstoull(argv[3], nullptr, 10);
  Bytes image;
  if (!ReadFile(argv[5], &image))
    return 2;
  const std::optional<installer::SignerCertificate> program =
      ProgramSigner(image);
  if (!program)
    return 2;
  std::vector<Bytes> seeds;
  for (int i = 6; i < argc; ++i) {
    seeds.emplace_back();
    if (!ReadFile(argv[i], &seeds.back()) || seeds.back().empty())
      return 2;
  }
  Counts counts;
  for (uint64_t number = first; number < first + count; ++number) {
    const Bytes bytes = MakeCase(seeds, number);
    if (!WriteCase(argv[4], checked ? ImageSignedWith(image, bytes) : bytes))
      return 2;
    // The number before the case runs, for the loop to go on after a crash.
    std::fprintf(stderr, "case %llu\n", static_cast<unsigned long long>(number));
    std::fflush(stderr);
    // Every other case asks for the report, which names the chain too.
    if (checked)
      ReadSignedFile(argv[4], *program, number % 2 == 0);
    ReadSignature(bytes, checked, 0, &counts);
    ++counts.cases;
    if (counts.cases % kHeapCheckInterval == 0 &&
        !::HeapValidate(::GetProcessHeap(), 0, nullptr)) {
      std::printf("heap damaged by case %llu\n",
                  static_cast<unsigned long long>(number));
      return 3;
    }
  }
  PrintCounts(counts);
  return 0;
}
