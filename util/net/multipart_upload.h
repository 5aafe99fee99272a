#ifndef UTIL_NET_MULTIPART_UPLOAD_H_
#define UTIL_NET_MULTIPART_UPLOAD_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace util {

// Wide name -> wide value, sent in name order.
using UploadFormFields = std::map<std::wstring, std::wstring>;
// Wide field name -> path of the file sent under it.
using UploadFiles = std::map<std::wstring, std::wstring>;

// Posts `form_fields` and the contents of `files` as one multipart/form-data
// body held in memory, over WinINet, to an "http" or "https" URL. The user
// agent is "CrashUploader/1.0 (Windows)" followed by `user_agent_suffix`. A
// file part's file name is its path as given. True only for a 200 answer
// whose body arrived whole (as long as its Content-Length says); the body
// goes to `response_body` and the status to `response_code` when asked.
// Field names must be printable ASCII without '"'.
bool MultipartUpload(const std::wstring& user_agent_suffix,
                     const std::wstring& url,
                     const UploadFormFields& form_fields,
                     const UploadFiles& files,
                     std::optional<uint32_t> timeout_ms,
                     std::wstring* response_body,
                     int* response_code);

}  // namespace util

#endif  // UTIL_NET_MULTIPART_UPLOAD_H_
