#include "util/net/multipart_body_builder.h"

#include <zlib.h>

#include <string>

#include "base/files/file_util.h"
#include "base/rand_util.h"
#include "base/test/scoped_temp_folder.h"
#include "gtest/gtest.h"

namespace util {
namespace {

// Everything the stream gives through a buffer of `buffer_size`; "error"
// when it fails.
std::string Drain(HttpBodyStream* stream, size_t buffer_size) {
  std::string body;
  std::string buffer(buffer_size, '\0');
  for (;;) {
    const int64_t count = stream->GetBytesBuffer(buffer.data(), buffer.size());
    if (count < 0)
      return "error";
    if (count == 0)
      return body;
    body.append(buffer.data(), static_cast<size_t>(count));
  }
}

std::string Gunzip(const std::string& compressed) {
  z_stream zlib = {};
  EXPECT_EQ(Z_OK, inflateInit2(&zlib, 15 + 16));
  zlib.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  zlib.avail_in = static_cast<uInt>(compressed.size());
  std::string plain;
  char buffer[16384];
  int result = Z_OK;
  while (result == Z_OK) {
    zlib.next_out = reinterpret_cast<Bytef*>(buffer);
    zlib.avail_out = sizeof(buffer);
    result = inflate(&zlib, Z_NO_FLUSH);
    plain.append(buffer, sizeof(buffer) - zlib.avail_out);
  }
  EXPECT_EQ(Z_STREAM_END, result);
  EXPECT_EQ(0u, zlib.avail_in);
  inflateEnd(&zlib);
  return plain;
}

// The parts' bytes against the server-side parsers are the end-to-end
// tests' business; here: the same body whatever the reader's buffer, and
// gzip that inflates back to it.
TEST(MultipartBodyBuilderTest, SameBodyThroughAnyBufferAndThroughGzip) {
  base::ScopedTempFolder folder;
  const base::FilePath dump = folder.path().Append(L"dump.dmp");
  std::string data;
  for (int i = 0; i < 70000; ++i)
    data += static_cast<char>(base::RandomIntInRange(0, 255));
  ASSERT_EQ(static_cast<int>(data.size()),
            base::WriteBufferToFile(dump, data.data(), static_cast<int>(data.size())));

  MultipartBodyBuilder builder;
  builder.AddFormField("a", "1");
  builder.AddFile("upload_file_minidump", "dump.dmp", dump, "");
  const std::string expected = Drain(builder.GetBodyStream().get(), 1 << 20);
  ASSERT_NE(std::string::npos, expected.find(data));

  for (size_t buffer_size : {1u, 7u, 4096u, 32768u}) {
    builder.SetGzipEnabled(false);
    EXPECT_EQ(expected, Drain(builder.GetBodyStream().get(), buffer_size))
        << buffer_size;
    builder.SetGzipEnabled(true);
    EXPECT_EQ(expected, Gunzip(Drain(builder.GetBodyStream().get(), buffer_size)))
        << buffer_size;
  }
}

TEST(MultipartBodyBuilderTest, MissingFileFailsTheBodyForGood) {
  base::ScopedTempFolder folder;
  for (bool gzip : {false, true}) {
    MultipartBodyBuilder builder;
    builder.SetGzipEnabled(gzip);
    builder.AddFile("f", "f", folder.path().Append(L"absent"), "");
    std::unique_ptr<HttpBodyStream> stream = builder.GetBodyStream();
    char buffer[4096];
    EXPECT_EQ(-1, stream->GetBytesBuffer(buffer, sizeof(buffer))) << gzip;
    EXPECT_EQ(-1, stream->GetBytesBuffer(buffer, sizeof(buffer))) << gzip;
  }
}

}  // namespace
}  // namespace util
