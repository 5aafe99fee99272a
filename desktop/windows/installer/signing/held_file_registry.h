#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_HELD_FILE_REGISTRY_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_HELD_FILE_REGISTRY_H_

#include <windows.h>
#include <wincrypt.h>

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
// verdicts of the signer checks made on it and the digests read of it, so
// that a file is checked once against each judge however often it is
// judged, and read whole once however many checks read it (the certificate's
// and the publisher's of the program a backend starts its crash reporter
// from and then unpacks). Nobody can write a file while it is held, so
// what was learnt of it stands while one holder keeps it; once the last lets it go,
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

  // Which file the handle `file` is open on; none when it cannot be told.
  static std::optional<HeldFileIdentity> IdentityOf(HANDLE file);

  void AddHolder(const HeldFileIdentity& file);
  void RemoveHolder(const HeldFileIdentity& file);

  // The number of the hold that keeps `file` now, the same for as long as
  // one holder or another has kept it without a break; none when nobody
  // holds it. What is read of the file counts only when the same hold kept
  // it from before the reading until it is remembered.
  std::optional<uint64_t> FindHold(const HeldFileIdentity& file) const;

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

  // The digest with `algorithm` that was read of the held `file` (an
  // Authenticode digest); none when there is none or nobody holds it.
  std::optional<std::vector<uint8_t>> FindDigest(const HeldFileIdentity& file,
                                                 ALG_ID algorithm) const;
  // Keeps `digest`, read of `file` under hold `hold` (FindHold's before
  // the reading), for as long as that hold lasts; nothing when it ended.
  void RememberDigest(const HeldFileIdentity& file,
                      uint64_t hold,
                      ALG_ID algorithm,
                      std::span<const uint8_t> digest);

 private:
  struct Verdict {
    HeldFileJudge judge;
    std::vector<uint8_t> against;
    SignatureRefusal verdict;
  };
  struct Digest {
    ALG_ID algorithm;
    std::vector<uint8_t> value;
  };
  struct Entry {
    HeldFileIdentity file;
    uint64_t hold = 0;
    int holders = 0;
    // A file is judged against one or two judges.
    std::vector<Verdict> verdicts;
    std::vector<Digest> digests;
  };

  Entry* Find(const HeldFileIdentity& file);
  const Entry* Find(const HeldFileIdentity& file) const;

  mutable std::mutex lock_;
  // A process holds a few files at a time.
  std::vector<Entry> entries_;
  uint64_t last_hold_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_HELD_FILE_REGISTRY_H_
