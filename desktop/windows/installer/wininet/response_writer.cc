#include "desktop/windows/installer/wininet/response_writer.h"

#include "base/logging.h"

namespace installer {

bool ResponseWriter::Write(const char* data, size_t count) {
  if (count > static_cast<uint64_t>(size_limit_ - written_)) {
    exceeded_size_limit_ = true;
    LOG(ERROR) << "The response passes its limit of " << size_limit_
               << " bytes";
    return false;
  }
  if (!AppendBlock(data, count))
    return false;
  written_ += static_cast<int64_t>(count);
  return true;
}

bool ResponseWriter::Restart() {
  if (!ClearBody())
    return false;
  written_ = 0;
  return true;
}

}  // namespace installer
