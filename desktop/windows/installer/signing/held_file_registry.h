#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_HELD_FILE_REGISTRY_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_HELD_FILE_REGISTRY_H_

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "desktop/windows/installer/signing/signature_refusal.h"

namespace installer {

// Which file a handle holds, as far as a change to it shows: the volume, the
// file's id on it, its size and its last write.
struct HeldFileIdentity {
  DWORD volume_serial = 0;
  uint64_t file_id = 0;
  uint64_t size = 0;
  uint64_t last_write = 0;

  friend bool operator==(const HeldFileIdentity&,
                         const HeldFileIdentity&) = default;
};

// What a held file's verdict was judged against: this very certificate
// (SignerCertificate, its DER bytes), or the publisher under its roots
// (their DER bytes one after the other).
enum class HeldFileJudge : uint8_t { kCertificate, kPublisherRoots };

// The files that this process's HeldImageFile objects hold, each with the
// verdicts of the signer checks made on it, so that a file is checked once
// against each judge however often it is judged. Nobody can write a file while it is held, so
// its verdict stands while one holder keeps it; once the last lets it go,
// the file may change with its identity kept (a writer can set the last
// write time back), and the verdict goes. Any thread may call it: the
// library checks files on several. Built on the standard library alone,
// for the host executable too.
class HeldFileRegistry {
 public:
  static HeldFileRegistry& Get();

  HeldFileRegistry();
  HeldFileRegistry(const HeldFileRegistry&) = delete;
  HeldFileRegistry& operator=(const HeldFileRegistry&) = delete;
  ~HeldFileRegistry();

  void AddHolder(const HeldFileIdentity& file);
  void RemoveHolder(const HeldFileIdentity& file);

  // The verdict that a check against `judge` of bytes `against` gave on
  // the held `file`; none when there is none or nobody holds it.
  std::optional<SignatureRefusal> FindVerdict(
      const HeldFileIdentity& file,
      HeldFileJudge judge,
      std::span<const uint8_t> against) const;
  // Keeps `verdict` for as long as `file` is held; nothing when it is not.
  void RememberVerdict(const HeldFileIdentity& file,
                       HeldFileJudge judge,
                       std::span<const uint8_t> against,
                       SignatureRefusal verdict);

 private:
  struct Verdict {
    HeldFileJudge judge;
    std::vector<uint8_t> against;
    SignatureRefusal verdict;
  };
  struct Entry {
    HeldFileIdentity file;
    int holders = 0;
    // A file is judged against one or two judges.
    std::vector<Verdict> verdicts;
  };

  Entry* Find(const HeldFileIdentity& file);
  const Entry* Find(const HeldFileIdentity& file) const;

  mutable std::mutex lock_;
  // A process holds a few files at a time.
  std::vector<Entry> entries_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_HELD_FILE_REGISTRY_H_
