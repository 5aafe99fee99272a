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
  entries_.push_back(Entry{file, 1, {}});
}

void HeldFileRegistry::RemoveHolder(const HeldFileIdentity& file) {
  const std::lock_guard<std::mutex> hold(lock_);
  Entry* entry = Find(file);
  if (!entry || --entry->holders > 0)
    return;
  entries_.erase(entries_.begin() + (entry - entries_.data()));
}

std::optional<SignatureRefusal> HeldFileRegistry::FindVerdict(
    const HeldFileIdentity& file,
    HeldFileJudge judge,
    std::span<const uint8_t> against) const {
  const std::lock_guard<std::mutex> hold(lock_);
  const Entry* entry = Find(file);
  if (!entry)
    return std::nullopt;
  for (const Verdict& known : entry->verdicts) {
    if (known.judge == judge && std::ranges::equal(known.against, against))
      return known.verdict;
  }
  return std::nullopt;
}

void HeldFileRegistry::RememberVerdict(const HeldFileIdentity& file,
                                       HeldFileJudge judge,
                                       std::span<const uint8_t> against,
                                       SignatureRefusal verdict) {
  const std::lock_guard<std::mutex> hold(lock_);
  Entry* entry = Find(file);
  if (!entry)
    return;
  for (Verdict& known : entry->verdicts) {
    if (known.judge == judge && std::ranges::equal(known.against, against)) {
      known.verdict = verdict;
      return;
    }
  }
  entry->verdicts.push_back(
      Verdict{judge, std::vector<uint8_t>(against.begin(), against.end()),
              verdict});
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
