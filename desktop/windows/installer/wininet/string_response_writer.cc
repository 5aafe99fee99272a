#include "desktop/windows/installer/wininet/string_response_writer.h"

#include "base/logging.h"

namespace installer {

StringResponseWriter::StringResponseWriter(std::string* target)
    : ResponseWriter(kMaxAnswerSize), target_(target) {
  CHECK(target_);
  target_->clear();
}

bool StringResponseWriter::AppendBlock(const char* data, size_t count) {
  target_->append(data, count);
  return true;
}

bool StringResponseWriter::ClearBody() {
  target_->clear();
  return true;
}

}  // namespace installer
