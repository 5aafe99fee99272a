#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_RUNNING_IMAGE_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_RUNNING_IMAGE_H_

#include <cstddef>
#include <cstdint>
#include <span>

namespace installer {

// The image of a running program as the loader mapped it, which nobody can
// swap, against a file that claims to be that program. The file a program
// was started from can be renamed while it runs and another put under its
// name, so what only the file holds (its signature: the loader maps no
// certificate table) is read from a held file that is first shown to be
// the running build. Built from system calls alone.
class RunningImage {
 public:
  // Where each image of ours carries the identity of its build, a digest of
  // the image as linked (cmake/build_identity.cc), in a section of its own
  // that the loader maps as it is.
  static constexpr char kIdentitySection[] = ".tvbuild";
  static constexpr size_t kIdentitySize = 32;

  // Whether the image file `file` is the build of `running`, the mapped
  // image of a running program: the same build identity at the same place,
  // which another build, however alike its headers, does not carry; and
  // the same file header, section table, entry point, image size and
  // checksum, and a certificate table of the same place and size. The image
  // base may differ: the loader moves it. The identity leaves the signature
  // out: a copy of the build signed again is the same build, and only the
  // signature check beside this one tells whose signature it carries.
  static bool IsSameBuild(std::span<const uint8_t> file,
                          const uint8_t* running);
  // The same for this process's own program.
  static bool IsOwnProgram(std::span<const uint8_t> file);
  // Whether the mapped image `running` carries a certificate table.
  static bool IsSigned(const uint8_t* running);
  // Whether this process's program carries a certificate table, as the
  // signed product does and a development build does not.
  static bool IsOwnProgramSigned();
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_RUNNING_IMAGE_H_
