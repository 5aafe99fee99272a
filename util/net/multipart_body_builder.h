#ifndef UTIL_NET_MULTIPART_BODY_BUILDER_H_
#define UTIL_NET_MULTIPART_BODY_BUILDER_H_

#include <map>
#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "util/net/http_body_stream.h"
#include "util/net/http_headers.h"

namespace util {

// A multipart/form-data body of text fields and file parts, streamed from
// the files when it is sent, optionally gzip-compressed. Names are UTF-8. A
// name is either a field or a file part, whichever was added last.
class MultipartBodyBuilder {
 public:
  MultipartBodyBuilder();
  MultipartBodyBuilder(const MultipartBodyBuilder&) = delete;
  MultipartBodyBuilder& operator=(const MultipartBodyBuilder&) = delete;
  ~MultipartBodyBuilder();

  void SetGzipEnabled(bool enabled);
  void AddFormField(const std::string& name, const std::string& value);
  // An empty `content_type` sends "application/octet-stream"; a given one
  // must keep to letters, digits and "+-./_".
  void AddFile(const std::string& name,
               const std::string& file_name,
               const base::FilePath& path,
               const std::string& content_type);

  std::unique_ptr<HttpBodyStream> GetBodyStream() const;
  // "Content-Type" with the boundary, and "Content-Encoding" when gzipped.
  void PopulateContentHeaders(HttpHeaders* headers) const;

  const std::string& boundary() const { return boundary_; }

 private:
  struct FilePart {
    std::string file_name;
    std::string content_type;
    base::FilePath path;
  };

  std::string PartHeader(const std::string& name) const;

  std::string boundary_;
  std::map<std::string, std::string> form_fields_;
  std::map<std::string, FilePart> file_parts_;
  bool gzip_enabled_ = false;
};

// The name or file name as a part header quotes it: line feed, carriage
// return, double quote and percent sign become "%" and two lower-case hex
// digits.
std::string EscapeMultipartName(const std::string& name);

}  // namespace util

#endif  // UTIL_NET_MULTIPART_BODY_BUILDER_H_
