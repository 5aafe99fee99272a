#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_SIGNED_TEST_IMAGES_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_SIGNED_TEST_IMAGES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/path_service.h"

namespace installer {

// The small program that the build signed with the test PKI's signers for
// the unit tests (tests/e2e/build_signed_images.py), beside the test
// program: "<signer>.exe" for "unsigned", "good", "renewed" and "rogue",
// and the DER certificates "<name>.der" of the signers and the CAs ("ca",
// "rogue_ca"). The machine trusts "ca" (scripts/trust-test-root), not
// "rogue_ca".
class SignedTestImages {
 public:
  static base::FilePath Folder() {
    base::FilePath program;
    if (!base::GetPathForKey(base::kExeFile, &program))
      return base::FilePath();
    return program.DirName().Append(L"signed_images");
  }

  // Not made by a build that names a release's publisher.
  static bool Available() {
    return base::PathExists(Folder().Append(L"good.exe"));
  }

  static base::FilePath Image(const std::wstring& signer) {
    return Folder().Append(signer + L".exe");
  }

  static std::vector<uint8_t> Certificate(const std::wstring& name) {
    std::string der;
    if (!base::ReadFileToString(Folder().Append(name + L".der"), &der))
      return {};
    return std::vector<uint8_t>(der.begin(), der.end());
  }
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_SIGNED_TEST_IMAGES_H_
