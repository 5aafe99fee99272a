#include "desktop/windows/installer/signing/held_file_registry.h"

#include <algorithm>

namespace installer {

namespace {

uint64_t Join(DWORD high, DWORD low) {
  return uint64_t{high} << 32 | low;
}

}  // namespace

// static
HeldFileRegistry& HeldFileRegistry::Get() {
  static HeldFileRegistry registry;
  return registry;
}

HeldFileRegistry::HeldFileRegistry() = default;
HeldFileRegistry::~HeldFileRegistry() = default;

// static
std::optional<HeldFileIdentity> HeldFileRegistry::IdentityOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!::GetFileInformationByHandle(file, &information))
    return std::nullopt;
  return HeldFileIdentity{
      information.dwVolumeSerialNumber,
      Join(information.nFileIndexHigh, information.nFileIndexLow),
      Join(information.nFileSizeHigh, information.nFileSizeLow),
      Join(information.ftLastWriteTime.dwHighDateTime,
           information.ftLastWriteTime.dwLowDateTime)};
}

void HeldFileRegistry::AddHolder(const HeldFileIdentity& file) {
  const std::lock_guard<std::mutex> hold(lock_);
  if (Entry* entry = Find(file)) {
    ++entry->holders;
    return;
  }
  entries_.push_back(Entry{file, ++last_hold_, 1, {}, {}});
}

void HeldFileRegistry::RemoveHolder(const HeldFileIdentity& file) {
  const std::lock_guard<std::mutex> hold(lock_);
  Entry* entry = Find(file);
  if (!entry || --entry->holders > 0)
    return;
  entries_.erase(entries_.begin() + (entry - entries_.data()));
}

std::optional<uint64_t> HeldFileRegistry::FindHold(
    const HeldFileIdentity& file) const {
  const std::lock_guard<std::mutex> hold(lock_);
  const Entry* entry = Find(file);
  return entry ? std::optional<uint64_t>(entry->hold) : std::nullopt;
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

std::optional<std::vector<uint8_t>> HeldFileRegistry::FindDigest(
    const HeldFileIdentity& file,
    ALG_ID algorithm) const {
  const std::lock_guard<std::mutex> hold(lock_);
  const Entry* entry = Find(file);
  if (!entry)
    return std::nullopt;
  const auto found = std::ranges::find(entry->digests, algorithm,
                                       &Digest::algorithm);
  if (found == entry->digests.end())
    return std::nullopt;
  return found->value;
}

void HeldFileRegistry::RememberDigest(const HeldFileIdentity& file,
                                      uint64_t hold,
                                      ALG_ID algorithm,
                                      std::span<const uint8_t> digest) {
  const std::lock_guard<std::mutex> lock(lock_);
  Entry* entry = Find(file);
  if (!entry || entry->hold != hold ||
      std::ranges::find(entry->digests, algorithm, &Digest::algorithm) !=
          entry->digests.end()) {
    return;
  }
  entry->digests.push_back(
      Digest{algorithm, std::vector<uint8_t>(digest.begin(), digest.end())});
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
