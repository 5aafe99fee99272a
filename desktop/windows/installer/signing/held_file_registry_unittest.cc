#include "desktop/windows/installer/signing/held_file_registry.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/signing/held_image_file.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

const std::vector<uint8_t> kOurSigner = {0x30, 0x01, 0x01};
const std::vector<uint8_t> kOtherSigner = {0x30, 0x01, 0x02};
const std::vector<uint8_t> kDigest = {0xD1, 0x6E, 0x57};

base::FilePath WriteTestFile(const base::FilePath& path,
                             const std::string& contents) {
  EXPECT_EQ(base::WriteBufferToFile(path, contents.data(),
                                    static_cast<int>(contents.size())),
            static_cast<int>(contents.size()));
  return path;
}

std::optional<SignatureRefusal> FindVerdict(
    const HeldImageFile& file,
    const std::vector<uint8_t>& signer,
    HeldFileJudge judge = HeldFileJudge::kCertificate) {
  if (!file.identity())
    return std::nullopt;
  return HeldFileRegistry::Get().FindVerdict(*file.identity(), judge, signer);
}

void Remember(const HeldFileIdentity& file,
              const std::vector<uint8_t>& against,
              SignatureRefusal verdict,
              HeldFileJudge judge = HeldFileJudge::kCertificate) {
  HeldFileRegistry::Get().RememberVerdict(file, judge, against, verdict);
}

TEST(HeldFileRegistryTest, VerdictStandsWhileAnyHolderKeepsTheFile) {
  base::ScopedTempFolder folder;
  const base::FilePath path =
      WriteTestFile(folder.path().Append(L"library.dll"), "MZ library");
  HeldImageFile first;
  ASSERT_EQ(first.Open(path.value().c_str()), 0u);
  ASSERT_TRUE(first.identity());
  Remember(*first.identity(), kOurSigner, SignatureRefusal::kNone);

  HeldImageFile second;
  ASSERT_EQ(second.Open(path.value().c_str()), 0u);
  EXPECT_EQ(second.identity(), first.identity());
  EXPECT_EQ(FindVerdict(second, kOurSigner), SignatureRefusal::kNone);
  // A verdict against one certificate says nothing of another, nor of the
  // publisher's roots of the same bytes.
  EXPECT_EQ(FindVerdict(second, kOtherSigner), std::nullopt);
  EXPECT_EQ(FindVerdict(second, kOurSigner, HeldFileJudge::kPublisherRoots),
            std::nullopt);
  // Each judge's verdict is kept beside the others'.
  Remember(*first.identity(), kOurSigner, SignatureRefusal::kExpired,
           HeldFileJudge::kPublisherRoots);
  Remember(*first.identity(), kOtherSigner, SignatureRefusal::kOtherPublisher);
  EXPECT_EQ(FindVerdict(second, kOurSigner), SignatureRefusal::kNone);
  EXPECT_EQ(FindVerdict(second, kOurSigner, HeldFileJudge::kPublisherRoots),
            SignatureRefusal::kExpired);
  EXPECT_EQ(FindVerdict(second, kOtherSigner),
            SignatureRefusal::kOtherPublisher);

  // A moved holder still holds; the object it left holds nothing.
  HeldImageFile moved = std::move(first);
  first = HeldImageFile();
  second = HeldImageFile();
  EXPECT_EQ(FindVerdict(moved, kOurSigner), SignatureRefusal::kNone);
  moved = HeldImageFile();

  HeldImageFile again;
  ASSERT_EQ(again.Open(path.value().c_str()), 0u);
  EXPECT_EQ(FindVerdict(again, kOurSigner), std::nullopt);
}

TEST(HeldFileRegistryTest, VerdictGoesWithTheLastHolderThoughTheFileLooksTheSame) {
  base::ScopedTempFolder folder;
  const base::FilePath path =
      WriteTestFile(folder.path().Append(L"installer.exe"), "MZ checked");
  HeldImageFile held;
  ASSERT_EQ(held.Open(path.value().c_str()), 0u);
  ASSERT_TRUE(held.identity());
  const HeldFileIdentity checked = *held.identity();
  Remember(checked, kOurSigner, SignatureRefusal::kNone);
  const std::optional<uint64_t> first_hold =
      HeldFileRegistry::Get().FindHold(checked);
  ASSERT_TRUE(first_hold);
  HeldFileRegistry::Get().RememberDigest(checked, *first_hold, CALG_SHA_256,
                                         kDigest);
  EXPECT_EQ(HeldFileRegistry::Get().FindDigest(checked, CALG_SHA_256),
            kDigest);
  EXPECT_EQ(HeldFileRegistry::Get().FindDigest(checked, CALG_SHA1),
            std::nullopt);
  // Held, the file cannot be written.
  EXPECT_FALSE(base::win::ScopedHandle(
                   ::CreateFileW(path.value().c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr))
                   .IsValid());
  held = HeldImageFile();

  // Let go, it is rewritten at the same size and its last write set back:
  // its identity cannot tell, so nothing may be known of it any longer.
  FILETIME last_write = {};
  {
    base::win::ScopedHandle writer(::CreateFileW(
        path.value().c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES,
        FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer.IsValid());
    ASSERT_TRUE(::GetFileTime(writer.Get(), nullptr, nullptr, &last_write));
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(writer.Get(), "MZ changed", 10, &written, nullptr));
    ASSERT_TRUE(::SetFileTime(writer.Get(), nullptr, nullptr, &last_write));
  }
  ASSERT_EQ(held.Open(path.value().c_str()), 0u);
  ASSERT_TRUE(held.identity());
  EXPECT_EQ(*held.identity(), checked);
  EXPECT_EQ(FindVerdict(held, kOurSigner), std::nullopt);
  EXPECT_EQ(HeldFileRegistry::Get().FindDigest(checked, CALG_SHA_256),
            std::nullopt);
  // A digest read under the hold that ended tells nothing of this one.
  EXPECT_NE(HeldFileRegistry::Get().FindHold(checked), first_hold);
  HeldFileRegistry::Get().RememberDigest(checked, *first_hold, CALG_SHA_256,
                                         kDigest);
  EXPECT_EQ(HeldFileRegistry::Get().FindDigest(checked, CALG_SHA_256),
            std::nullopt);

  // Nor is a verdict kept for a file that nobody holds.
  held = HeldImageFile();
  Remember(checked, kOurSigner, SignatureRefusal::kNone);
  ASSERT_EQ(held.Open(path.value().c_str()), 0u);
  EXPECT_EQ(FindVerdict(held, kOurSigner), std::nullopt);
}

}  // namespace
}  // namespace installer
