#include "desktop/windows/installer/package_fetcher/protected_package.h"

#include <windows.h>

#include <string>

#include "base/files/file_util.h"
#include "base/files/final_path.h"
#include "base/files/new_file_in_folder.h"
#include "base/files/resolved_entry.h"
#include "base/log_message.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/package_fetcher/downloaded_version_check.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/package_unpacker/package_unpacker.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/signing/build_publisher.h"
#include "desktop/windows/installer/signing/held_file_path.h"
#include "desktop/windows/installer/signing/locked_file_view.h"
#include "desktop/windows/installer/signing/running_image.h"
#include "desktop/windows/installer/signing/signature_verifier.h"
#include "desktop/windows/installer/testing/test_hooks.h"

namespace installer {

namespace {

// What the front end writes beside the package for the run, and the
// package's installer reads from its own folder.
constexpr const wchar_t* kRunDataFiles[] = {
    kServerTrackingDataName,
    kPrefDefaultOverridesName,
    kInstallerPrefsIncludeName,
};

// One of the run's data files, copied into `folder` when it is a plain
// file in `from`; a missing one is no failure.
void CarryRunDataFile(const base::FilePath& from,
                      const base::FilePath& from_final,
                      const base::FilePath& folder,
                      const wchar_t* name) {
  const base::FilePath source = from.Append(name);
  if (!base::PathExists(source))
    return;
  LockedFileView held;
  if (!held.Open(source)) {
    LOG(WARNING) << "Not carrying " << source.AsUTF8();
    return;
  }
  if (!base::NewFileInFolder::IsSamePlace(
          base::GetFinalPath(held.file_handle(), source.value()),
          from_final.Append(name).value())) {
    LOG(ERROR) << "Not carrying " << source.AsUTF8()
               << ": it is reached through a link";
    return;
  }
  const std::span<const uint8_t> bytes = held.bytes();
  if (bytes.size() > ProtectedPackage::kMaxRunDataSize) {
    LOG(ERROR) << "Not carrying " << source.AsUTF8() << ": " << bytes.size()
               << " bytes";
    return;
  }
  const int size = static_cast<int>(bytes.size());
  if (base::WriteBufferToFile(folder.Append(name),
                              reinterpret_cast<const char*>(bytes.data()),
                              size) != size) {
    PLOG(WARNING) << "Could not carry " << source.AsUTF8();
  }
}

// The trust check of a large installer file costs under Wine about as long
// as its unpack (most of a second for 188 MB: the trust provider's digest
// and chain), so it runs on a thread of its own beside the unpack. The file
// is held, so both read the same bytes, and nothing unpacked is used unless
// the check holds. The file is the publisher's, this build's or another
// release's, whose certificate may have been renewed since.
class HeldSignatureCheck {
 public:
  HeldSignatureCheck(const LockedFileView& held,
                     const base::FilePath& file,
                     bool needed)
      : held_(held),
        file_(file),
        refusal_(needed ? SignatureRefusal::kNotSigned
                        : SignatureRefusal::kNone) {
    if (!needed)
      return;
    thread_.Set(::CreateThread(nullptr, 0, &Run, this, 0, nullptr));
    if (!thread_.IsValid())
      Run(this);
  }
  HeldSignatureCheck(const HeldSignatureCheck&) = delete;
  HeldSignatureCheck& operator=(const HeldSignatureCheck&) = delete;
  ~HeldSignatureCheck() { Wait(); }

  SignatureRefusal Refusal() {
    Wait();
    return refusal_;
  }
  const std::string& report() const { return report_; }

 private:
  static DWORD WINAPI Run(void* parameter) {
    auto* check = static_cast<HeldSignatureCheck*>(parameter);
    check->refusal_ =
        CheckHeldFileSignature(check->held_, check->file_,
                               &BuildPublisher::Roots(), &check->report_);
    return 0;
  }

  void Wait() {
    if (thread_.IsValid())
      ::WaitForSingleObject(thread_.Get(), INFINITE);
    thread_.Close();
  }

  const LockedFileView& held_;
  const base::FilePath& file_;
  SignatureRefusal refusal_;
  std::string report_;
  base::win::ScopedHandle thread_;
};

}  // namespace

ProtectedPackage::ProtectedPackage()
    : folder_(PrivateTempFolder::Owners::kAdministrators) {}

ProtectedPackage::~ProtectedPackage() = default;

ProtectedPackage::Result ProtectedPackage::Unpack(
    const base::FilePath& downloaded) {
  base::FilePath program;
  if (!base::GetPathForKey(base::kExeFile, &program)) {
    LOG(ERROR) << "Cannot find this process's program";
    return Result::kFailed;
  }
  const Result result = UnpackFile(program, Source::kOwnProgram);
  if (result != Result::kNoPackage || !base::PathExists(downloaded))
    return result;
  return UnpackFile(downloaded, Source::kDownload);
}

ProtectedPackage::Result ProtectedPackage::UnpackFile(
    const base::FilePath& file,
    Source source) {
  // Held from here until the package is out: the file can be neither
  // written nor replaced nor moved while it is open. Holding the file does
  // not hold the folders above it, which could be renamed and another file
  // put at its path: its path is pinned too (no folder on it can be renamed
  // or become a link), and every read below goes by that path.
  LockedFileView held;
  if (!held.Open(file))
    return Result::kFailed;
  HeldFilePath pinned;
  if (const DWORD error = pinned.Pin(held.file_handle())) {
    LOG(ERROR) << "Not unpacking " << file.AsUTF8()
               << ": its path cannot be held: "
               << base::SystemErrorCodeToString(error);
    return Result::kFailed;
  }
  if (source == Source::kOwnProgram &&
      !RunningImage::IsOwnProgram(held.bytes())) {
    LOG(ERROR) << "Refusing " << file.AsUTF8()
               << ": it is not the program that runs";
    refusal_ = {SignatureRefusal::kChanged, true};
    return Result::kRefused;
  }
  // A development build does not carry a signature, and takes unsigned
  // packages.
  HeldSignatureCheck check(held, file, RunningImage::IsOwnProgramSigned());
  TestHooks::OnRolePoint(TestHooks::RolePoint::kProtectedUnpack);
  // The reads open the path anew, by the system's path rules: just before,
  // it must still open the held file.
  if (const DWORD error = pinned.Verify(held.file_handle())) {
    LOG(ERROR) << "Refusing the package of " << file.AsUTF8()
               << ": its path led elsewhere before it was read: "
               << base::SystemErrorCodeToString(error);
    refusal_ = {SignatureRefusal::kChanged, true};
    return Result::kRefused;
  }
  const Result result = UnpackHeld(base::FilePath(pinned.path()), source);
  const SignatureRefusal refusal = check.Refusal();
  // Under Wine a Linux process renames a pinned folder all the same: what
  // was read by the path is the held file's only if the path still leads
  // to it.
  if (const DWORD error = pinned.Verify(held.file_handle())) {
    LOG(ERROR) << "Refusing the package of " << file.AsUTF8()
               << ": its path led elsewhere while it was read: "
               << base::SystemErrorCodeToString(error);
    refusal_ = {SignatureRefusal::kChanged, true};
    return Result::kRefused;
  }
  if (refusal != SignatureRefusal::kNone) {
    LOG(ERROR) << "Refusing " << file.AsUTF8() << ": "
               << DescribeSignatureRefusal(refusal) << ": " << check.report();
    // The front end checked a download before; nothing checked the
    // program's own file.
    refusal_ = {refusal, source == Source::kDownload};
    return Result::kRefused;
  }
  if (result != Result::kUnpacked)
    return result;
  if (source == Source::kOwnProgram) {
    // The file is the running program, its package inside what its
    // signature covers: the package of this very build.
    version_ = GetInternalVersion();
    return result;
  }
  // Another signed package than the one the front end checked may lie
  // there: an older one must not be installed with this one's rights.
  SignatureRefusal files_refusal = SignatureRefusal::kNone;
  const VersionCheck version =
      CheckDownloadedVersion(folder().Append(kPackageInstallerName),
                             DownloadedProgram::kPackageInstaller, nullptr,
                             &version_, &files_refusal);
  if (version != VersionCheck::kPassed) {
    LOG(ERROR) << "Refusing " << file.AsUTF8() << ": "
               << (version == VersionCheck::kSignatureRefused
                       ? "its installer's or library's signature"
                       : "its version");
    version_.clear();
    // Another package than the one the front end checked.
    refusal_ = {version == VersionCheck::kSignatureRefused
                    ? files_refusal
                    : SignatureRefusal::kChanged,
                true};
    return Result::kRefused;
  }
  return Result::kUnpacked;
}

ProtectedPackage::Result ProtectedPackage::UnpackHeld(
    const base::FilePath& path,
    Source source) {
  uint64_t offset = 0;
  uint64_t length = 0;
  if (!PayloadReader(path).GetPackageRange(&offset, &length)) {
    if (source == Source::kOwnProgram)
      return Result::kNoPackage;
    LOG(ERROR) << "No package in " << path.AsUTF8();
    return Result::kFailed;
  }
  if (!folder_.Create()) {
    LOG(ERROR) << "Could not make the protected package folder";
    return Result::kFailed;
  }
  LOG(INFO) << "Made " << folder().AsUTF8() << " with the access list "
            << base::WideToUtf8(PrivateTempFolder::GetAccessListText(
                   PrivateTempFolder::Owners::kAdministrators));
  LOG(INFO) << "Unpacking the package of " << path.AsUTF8() << " into "
            << folder().AsUTF8();
  PackageUnpacker unpacker;
  if (const DWORD error = unpacker.OpenArchive(path, offset, length)) {
    LOG(ERROR) << "Could not open the package: " << error;
    return Result::kFailed;
  }
  const PackageUnpacker::Result result = unpacker.UnPack(folder());
  if (!result.ok()) {
    LOG(ERROR) << "Unpacking the package failed at stage " << result.stage
               << ": " << result.error;
    return Result::kFailed;
  }
  return Result::kUnpacked;
}

// static
void ProtectedPackage::CarryRunData(const base::FilePath& from,
                                    const base::FilePath& to) {
  const base::FilePath from_final = base::ResolvedEntry::GetFinalPath(from);
  if (from_final.empty())
    return;
  for (const wchar_t* name : kRunDataFiles)
    CarryRunDataFile(from, from_final, to, name);
}

}  // namespace installer
