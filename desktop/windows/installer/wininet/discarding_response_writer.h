#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_DISCARDING_RESPONSE_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_DISCARDING_RESPONSE_WRITER_H_

#include "desktop/windows/installer/wininet/response_writer.h"

namespace installer {

// For requests whose reply nobody reads (the statistics report).
class DiscardingResponseWriter : public ResponseWriter {
 public:
  bool Write(const char* data, size_t count) override { return true; }
  void Finish() override {}
  bool Restart() override { return true; }
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_DISCARDING_RESPONSE_WRITER_H_
