#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_DISCARDING_RESPONSE_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_DISCARDING_RESPONSE_WRITER_H_

#include "desktop/windows/installer/wininet/response_writer.h"

namespace installer {

// For requests whose reply nobody reads (the statistics report): still
// bounded, so that an endless answer ends the request.
class DiscardingResponseWriter : public ResponseWriter {
 public:
  explicit DiscardingResponseWriter(int64_t size_limit = kMaxAnswerSize)
      : ResponseWriter(size_limit) {}

  void Finish() override {}

 protected:
  bool AppendBlock(const char* data, size_t count) override { return true; }
  bool ClearBody() override { return true; }
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_DISCARDING_RESPONSE_WRITER_H_
