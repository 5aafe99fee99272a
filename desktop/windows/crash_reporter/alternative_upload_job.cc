#include "desktop/windows/crash_reporter/alternative_upload_job.h"

#include <string>

#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/crash_reporter/crash_server_urls.h"
#include "util/net/http_headers.h"
#include "util/net/http_transport.h"

namespace installer {

namespace {

constexpr char kMinidumpPartName[] = "upload_file_minidump";
constexpr char kMinidumpContentType[] = "application/octet-stream";

}  // namespace

std::unique_ptr<util::MultipartBodyBuilder> AlternativeUploadJob::BuildBody()
    const {
  auto builder = std::make_unique<util::MultipartBodyBuilder>();
  builder->SetGzipEnabled(compress());
  for (const auto& [name, value] : form_fields())
    builder->AddFormField(base::WideToUtf8(name), base::WideToUtf8(value));
  builder->AddFile(kMinidumpPartName, file_path().BaseName().AsUTF8(),
                   file_path(), kMinidumpContentType);
  return builder;
}

bool AlternativeUploadJob::Run() {
  const std::unique_ptr<util::MultipartBodyBuilder> builder = BuildBody();
  std::unique_ptr<util::HttpTransport> transport = util::HttpTransport::Create();
  transport->SetMethod("POST");
  transport->SetBodyStream(builder->GetBodyStream());
  transport->SetURL(base::WideToUtf8(GetAlternativeCrashServerUrl()));
  util::HttpHeaders headers;
  builder->PopulateContentHeaders(&headers);
  for (const auto& [name, value] : headers)
    transport->SetHeader(name, value);
  return transport->ExecuteSynchronously(nullptr);
}

}  // namespace installer
