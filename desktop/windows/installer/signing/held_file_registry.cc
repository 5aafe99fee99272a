#include "desktop/windows/installer/signing/held_file_registry.h"

#include <algorithm>

namespace installer {

// static
HeldFileRegistry& HeldFileRegistry::Get() {
  static HeldFileRegistry registry;
  return registry;
}

HeldFileRegistry::HeldFileRegistry() = default;
HeldFileRegistry::~HeldFileRegistry() = default;

void HeldFileRegistry::AddHolder(const HeldFileIdentity& file) {
  const std::lock_guard<std::mutex> hold(lock_);
  if (Entry* entry = Find(file)) {
    ++entry->holders;
    return;
  }
  entries_.push_back(Entry{file, 1, {}, std::nullopt});
}

void HeldFileRegistry::RemoveHolder(const HeldFileIdentity& file) {
  const std::lock_guard<std::mutex> hold(lock_);
  Entry* entry = Find(file);
  if (!entry || --entry->holders > 0)
    return;
  entries_.erase(entries_.begin() + (entry - entries_.data()));
}

std::optional<SignerCheck> HeldFileRegistry::FindVerdict(
    const HeldFileIdentity& file,
    std::span<const uint8_t> signer) const {
  const std::lock_guard<std::mutex> hold(lock_);
  const Entry* entry = Find(file);
  if (!entry || !std::ranges::equal(entry->signer, signer))
    return std::nullopt;
  return entry->verdict;
}

void HeldFileRegistry::RememberVerdict(const HeldFileIdentity& file,
                                       std::span<const uint8_t> signer,
                                       SignerCheck verdict) {
  const std::lock_guard<std::mutex> hold(lock_);
  Entry* entry = Find(file);
  if (!entry)
    return;
  entry->signer.assign(signer.begin(), signer.end());
  entry->verdict = verdict;
}

HeldFileRegistry::Entry* HeldFileRegistry::Find(const HeldFileIdentity& file) {
  const auto found = std::ranges::find(entries_, file, &Entry::file);
  return found == entries_.end() ? nullptr : &*found;
}

const HeldFileRegistry::Entry* HeldFileRegistry::Find(
    const HeldFileIdentity& file) const {
  const auto found = std::ranges::find(entries_, file, &Entry::file);
  return found == entries_.end() ? nullptr : &*found;
}

}  // namespace installer
