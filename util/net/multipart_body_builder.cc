#include "util/net/multipart_body_builder.h"

#include <utility>
#include <vector>

#include "base/logging.h"
#include "base/rand_util.h"
#include "base/strings/string_format.h"
#include "util/net/composite_http_body_stream.h"
#include "util/net/file_http_body_stream.h"
#include "util/net/gzip_http_body_stream.h"
#include "util/net/string_http_body_stream.h"

namespace util {

namespace {

constexpr char kBoundaryPrefix[] = "---MultipartBoundary-";
constexpr char kBoundarySuffix[] = "---";
constexpr char kBoundaryCharacters[] =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kBoundaryRandomLength = 32;
constexpr char kDefaultContentType[] = "application/octet-stream";

std::string MakeBoundary() {
  std::string boundary = kBoundaryPrefix;
  constexpr int kLastCharacter = sizeof(kBoundaryCharacters) - 2;
  for (int i = 0; i < kBoundaryRandomLength; ++i)
    boundary += kBoundaryCharacters[base::RandomIntInRange(0, kLastCharacter)];
  return boundary + kBoundarySuffix;
}

bool IsContentTypeCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' ||
         c == '/' || c == '_';
}

bool IsValidContentType(const std::string& content_type) {
  for (char c : content_type) {
    if (!IsContentTypeCharacter(c))
      return false;
  }
  return true;
}

}  // namespace

std::string EscapeMultipartName(const std::string& name) {
  std::string escaped;
  for (char c : name) {
    if (c == '\n' || c == '\r' || c == '"' || c == '%')
      base::AppendFormat(&escaped, "%%%02x", static_cast<unsigned char>(c));
    else
      escaped += c;
  }
  return escaped;
}

MultipartBodyBuilder::MultipartBodyBuilder() : boundary_(MakeBoundary()) {}

MultipartBodyBuilder::~MultipartBodyBuilder() = default;

void MultipartBodyBuilder::SetGzipEnabled(bool enabled) {
  gzip_enabled_ = enabled;
}

void MultipartBodyBuilder::AddFormField(const std::string& name,
                                        const std::string& value) {
  file_parts_.erase(name);
  form_fields_[name] = value;
}

void MultipartBodyBuilder::AddFile(const std::string& name,
                                   const std::string& file_name,
                                   const base::FilePath& path,
                                   const std::string& content_type) {
  // The type goes into a header unescaped: anything else is a caller's bug.
  CHECK(IsValidContentType(content_type)) << content_type;
  form_fields_.erase(name);
  file_parts_[name] = FilePart{
      file_name, content_type.empty() ? kDefaultContentType : content_type,
      path};
}

std::unique_ptr<HttpBodyStream> MultipartBodyBuilder::GetBodyStream() const {
  std::vector<std::unique_ptr<HttpBodyStream>> parts;
  for (const auto& [name, value] : form_fields_) {
    parts.push_back(std::make_unique<StringHttpBodyStream>(
        PartHeader(name) + "\r\n\r\n" + value + "\r\n"));
  }
  for (const auto& [name, file] : file_parts_) {
    parts.push_back(std::make_unique<StringHttpBodyStream>(
        PartHeader(name) + "; filename=\"" +
        EscapeMultipartName(file.file_name) + "\"\r\nContent-Type: " +
        file.content_type + "\r\n\r\n"));
    parts.push_back(std::make_unique<FileHttpBodyStream>(file.path));
    parts.push_back(std::make_unique<StringHttpBodyStream>("\r\n"));
  }
  parts.push_back(
      std::make_unique<StringHttpBodyStream>("--" + boundary_ + "--\r\n"));
  std::unique_ptr<HttpBodyStream> body =
      std::make_unique<CompositeHttpBodyStream>(std::move(parts));
  if (gzip_enabled_)
    body = std::make_unique<GzipHttpBodyStream>(std::move(body));
  return body;
}

void MultipartBodyBuilder::PopulateContentHeaders(HttpHeaders* headers) const {
  (*headers)["Content-Type"] =
      base::FormatString("multipart/form-data; boundary=%s", boundary_.c_str());
  if (gzip_enabled_)
    (*headers)["Content-Encoding"] = "gzip";
}

std::string MultipartBodyBuilder::PartHeader(const std::string& name) const {
  return "--" + boundary_ +
         "\r\nContent-Disposition: form-data; name=\"" +
         EscapeMultipartName(name) + "\"";
}

}  // namespace util
