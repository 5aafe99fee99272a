#include "util/net/gzip_http_body_stream.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

#include "base/logging.h"
#include "base/strings/string_format.h"

namespace util {

namespace {

// 15 window bits, plus 16 for the gzip header and trailer instead of zlib's.
constexpr int kGzipWindowBits = 15 + 16;
constexpr int kMemoryLevel = 8;

std::string ZlibError(const z_stream& zlib, int code) {
  return base::FormatString("%s (%d)", zlib.msg ? zlib.msg : "", code);
}

}  // namespace

GzipHttpBodyStream::GzipHttpBodyStream(std::unique_ptr<HttpBodyStream> source)
    : source_(std::move(source)) {}

GzipHttpBodyStream::~GzipHttpBodyStream() {
  // A body abandoned half way still holds zlib's buffers.
  if (state_ == State::kReadingInput || state_ == State::kInputDone)
    deflateEnd(&zlib_);
}

int64_t GzipHttpBodyStream::GetBytesBuffer(char* buffer, size_t max_size) {
  if (state_ == State::kError)
    return -1;
  if (state_ == State::kFinished)
    return 0;
  if (state_ == State::kUninitialized && !Initialize())
    return -1;

  // zlib counts output in 32 bits.
  const size_t capacity =
      std::min<size_t>(max_size, std::numeric_limits<uInt>::max());
  zlib_.next_out = reinterpret_cast<Bytef*>(buffer);
  zlib_.avail_out = static_cast<uInt>(capacity);
  while (zlib_.avail_out > 0) {
    if (zlib_.avail_in == 0 && state_ == State::kReadingInput && !RefillInput())
      return -1;
    const bool finishing = state_ == State::kInputDone;
    const int result = deflate(&zlib_, finishing ? Z_FINISH : Z_NO_FLUSH);
    if (finishing && result == Z_STREAM_END) {
      const int end_result = deflateEnd(&zlib_);
      if (end_result != Z_OK)
        LOG(ERROR) << "deflateEnd: " << ZlibError(zlib_, end_result);
      state_ = State::kFinished;
      break;
    }
    if (result != Z_OK) {
      LOG(ERROR) << "deflate: " << ZlibError(zlib_, result);
      deflateEnd(&zlib_);
      state_ = State::kError;
      return -1;
    }
  }
  return static_cast<int64_t>(capacity - zlib_.avail_out);
}

bool GzipHttpBodyStream::Initialize() {
  const int result = deflateInit2(&zlib_, Z_DEFAULT_COMPRESSION, Z_DEFLATED,
                                  kGzipWindowBits, kMemoryLevel,
                                  Z_DEFAULT_STRATEGY);
  if (result != Z_OK) {
    LOG(ERROR) << "deflateInit2: " << ZlibError(zlib_, result);
    state_ = State::kError;
    return false;
  }
  state_ = State::kReadingInput;
  return true;
}

bool GzipHttpBodyStream::RefillInput() {
  const int64_t count = source_->GetBytesBuffer(input_, sizeof(input_));
  if (count < 0) {
    deflateEnd(&zlib_);
    state_ = State::kError;
    return false;
  }
  if (count == 0)
    state_ = State::kInputDone;
  zlib_.next_in = reinterpret_cast<Bytef*>(input_);
  zlib_.avail_in = static_cast<uInt>(count);
  return true;
}

}  // namespace util
