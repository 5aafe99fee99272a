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
  // Whether the image file `file` is of the build of `running`, however it
  // was signed and whatever it carries after its sections: the same build
  // identity at the same place, and the same file header, section table,
  // entry point and image size. Its checksum and certificate table may
  // differ: signing writes both, and a copy of the build signed on its own,
  // or carrying another payload (the package's installer beside the full
  // installer that holds the package), is of the same build. Only a
  // signature check beside it tells who signed it.
  static bool IsBuildOf(std::span<const uint8_t> file, const uint8_t* running);
  // The same for this process's own program.
  static bool IsOwnProgram(std::span<const uint8_t> file);
  // The mapped images of this process's program and of the module that
  // holds this code (the installer library, when it runs in one).
  static const uint8_t* OwnProgramImage();
  static const uint8_t* OwnModuleImage();
  // Whether the mapped image `running` carries a certificate table.
  static bool IsSigned(const uint8_t* running);
  // Whether this process's program carries a certificate table, as the
  // signed product does and a development build does not.
  static bool IsOwnProgramSigned();
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_RUNNING_IMAGE_H_
