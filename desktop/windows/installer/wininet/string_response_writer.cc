#include "desktop/windows/installer/wininet/string_response_writer.h"

#include "base/logging.h"

namespace installer {

StringResponseWriter::StringResponseWriter(std::string* target)
    : target_(target) {
  CHECK(target_);
  target_->clear();
}

bool StringResponseWriter::Write(const char* data, size_t count) {
  target_->append(data, count);
  return true;
}

bool StringResponseWriter::Restart() {
  target_->clear();
  return true;
}

}  // namespace installer
