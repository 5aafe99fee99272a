#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_STRING_RESPONSE_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_STRING_RESPONSE_WRITER_H_

#include <string>

#include "desktop/windows/installer/wininet/response_writer.h"

namespace installer {

// Collects the body, at most `kMaxAnswerSize` bytes, into the owner's
// string, which must outlive the download; the constructor empties it.
class StringResponseWriter : public ResponseWriter {
 public:
  explicit StringResponseWriter(std::string* target);

  void Finish() override {}

 protected:
  bool AppendBlock(const char* data, size_t count) override;
  bool ClearBody() override;

 private:
  std::string* target_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_STRING_RESPONSE_WRITER_H_
