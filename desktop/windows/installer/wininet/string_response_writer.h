#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_STRING_RESPONSE_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_STRING_RESPONSE_WRITER_H_

#include <string>

#include "desktop/windows/installer/wininet/response_writer.h"

namespace installer {

// Collects the body into the owner's string, which must outlive the
// download; the constructor empties it.
class StringResponseWriter : public ResponseWriter {
 public:
  explicit StringResponseWriter(std::string* target);

  bool Write(const char* data, size_t count) override;
  void Finish() override {}
  bool Restart() override;

 private:
  std::string* target_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_STRING_RESPONSE_WRITER_H_
