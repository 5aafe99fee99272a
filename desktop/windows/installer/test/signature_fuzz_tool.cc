// A mutation loop over signatures for the platform's decoder, which only a
// Windows program (here under Wine) can drive; bench/fuzz_signatures.py runs
// it and restarts it after a crash.
//   signature_fuzz_tool checked|unchecked FIRST COUNT CASE SEED...
// mutates the SEED signatures (DER PKCS #7 signed data) into the cases
// FIRST to FIRST+COUNT-1, each a function of its number alone, writes each
// to the file CASE before reading it, so that a crash leaves it there, and
// reads it as the installer does: the message, every signer's information
// and certificate, its certificate chain, and the signatures nested in it.
// "checked" opens it through OpenSignedMessage, which walks its DER shape
// first; "unchecked" hands it to CryptQueryObject as it comes. Every 64
// cases the process heap is validated.
//   signature_fuzz_tool replay CASE  reads one saved case, unchecked.
// Prints "cases N opened N refused N" and exits with 0, or 3 when the heap
// was found damaged. Each case's number goes to stderr before it is read.

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "desktop/windows/installer/signing/scoped_cert_store.h"
#include "desktop/windows/installer/signing/scoped_crypt_msg.h"
#include "desktop/windows/installer/signing/scoped_crypt_objects.h"
#include "desktop/windows/installer/signing/signed_message.h"

namespace {

using Bytes = std::vector<uint8_t>;
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
  const size_t length = body.size();
  if (length < 0x80) {
    out->push_back(static_cast<uint8_t>(length));
  } else {
    int count = 0;
    for (size_t rest = length; rest; rest >>= 8)
      ++count;
    out->push_back(static_cast<uint8_t>(0x80 | count));
    for (int i = count - 1; i >= 0; --i)
      out->push_back(static_cast<uint8_t>(length >> (8 * i)));
  }
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

Bytes MakeCase(const std::vector<Bytes>& seeds, uint64_t number) {
  Random random(number * 0x2545F4914F6CDD1Dull + 1);
  const Bytes& seed = seeds[number % seeds.size()];
  Bytes bytes = seed;
  Node root;
  size_t used = 0;
  const size_t changes = 1 + random.Below(4);
  if (random.Below(4) != 0 &&
      ParseElement(seed.data(), seed.size(), &used, &root, 0)) {
    for (size_t i = 0; i < changes; ++i)
      MutateTree(&root, &random);
    bytes.clear();
    Serialize(root, &bytes);
    if (random.Below(4) == 0)
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

// Reads `signature` as the installer does, nested signatures once deep.
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
        installer::FindSignerCertificate(store.Get(), encoding, *info);
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

int Usage() {
  std::fprintf(stderr,
               "usage: signature_fuzz_tool checked|unchecked FIRST COUNT CASE "
               "SEED...\n       signature_fuzz_tool replay CASE\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wcscmp(argv[1], L"replay") == 0) {
    Bytes bytes;
    if (!ReadFile(argv[2], &bytes))
      return 2;
    Counts counts;
    ReadSignature(bytes, false, 0, &counts);
    std::printf("cases 1 opened %llu refused 0\n",
                static_cast<unsigned long long>(counts.opened));
    return 0;
  }
  if (argc < 6)
    return Usage();
  const bool checked = std::wcscmp(argv[1], L"checked") == 0;
  if (!checked && std::wcscmp(argv[1], L"unchecked") != 0)
    return Usage();
  const uint64_t first = std::wcstoull(argv[2], nullptr, 10);
  const uint64_t count = std::wcstoull(argv[3], nullptr, 10);
  std::vector<Bytes> seeds;
  for (int i = 5; i < argc; ++i) {
    seeds.emplace_back();
    if (!ReadFile(argv[i], &seeds.back()) || seeds.back().empty())
      return 2;
  }
  Counts counts;
  for (uint64_t number = first; number < first + count; ++number) {
    const Bytes bytes = MakeCase(seeds, number);
    if (!WriteCase(argv[4], bytes))
      return 2;
    // The number before the case runs, for the loop to go on after a crash.
    std::fprintf(stderr, "case %llu\n", static_cast<unsigned long long>(number));
    std::fflush(stderr);
    ReadSignature(bytes, checked, 0, &counts);
    ++counts.cases;
    if (counts.cases % kHeapCheckInterval == 0 &&
        !::HeapValidate(::GetProcessHeap(), 0, nullptr)) {
      std::printf("heap damaged by case %llu\n",
                  static_cast<unsigned long long>(number));
      return 3;
    }
  }
  std::printf("cases %llu opened %llu refused %llu\n",
              static_cast<unsigned long long>(counts.cases),
              static_cast<unsigned long long>(counts.opened),
              static_cast<unsigned long long>(counts.refused));
  return 0;
}
