#include "desktop/windows/installer/signing/publisher_roots.h"

#include <algorithm>

namespace installer {

// static
PublisherRoots PublisherRoots::FromEncoded(
    std::span<const std::span<const uint8_t>> roots) {
  PublisherRoots made;
  for (const std::span<const uint8_t> root : roots) {
    made.roots_.emplace_back(root.begin(), root.end());
    made.encoded_.insert(made.encoded_.end(), root.begin(), root.end());
  }
  return made;
}

bool PublisherRoots::EndsChain(PCCERT_CHAIN_CONTEXT chain) const {
  if (!chain || chain->cChain == 0)
    return false;
  const CERT_SIMPLE_CHAIN* last = chain->rgpChain[chain->cChain - 1];
  if (!last || last->cElement == 0)
    return false;
  const CERT_CHAIN_ELEMENT* root = last->rgpElement[last->cElement - 1];
  if (!root || !root->pCertContext)
    return false;
  return Contains(
      {root->pCertContext->pbCertEncoded, root->pCertContext->cbCertEncoded});
}

bool PublisherRoots::Contains(std::span<const uint8_t> certificate) const {
  return std::ranges::any_of(roots_, [certificate](const auto& root) {
    return std::ranges::equal(root, certificate);
  });
}

}  // namespace installer
