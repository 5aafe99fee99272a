#include "desktop/windows/crash_reporter/crash_server_upload_job.h"

#include <optional>
#include <string>

#include "base/files/file_util.h"
#include "desktop/windows/crash_reporter/crash_server_urls.h"
#include "util/file/zip_crash_log.h"

namespace installer {

namespace {

constexpr wchar_t kFilePartName[] = L"file";
constexpr wchar_t kZipExtension[] = L".zip";

}  // namespace

bool CrashServerUploadJob::Run() {
  base::FilePath upload_path = file_path();
  if (compress()) {
    std::string made_zip;
    if (!util::ZipCrashLog(file_path().AsUTF8(),
                           file_path().ReplaceExtension(kZipExtension).AsUTF8(),
                           &made_zip)) {
      return false;
    }
    upload_path = base::FilePath::FromUTF8(made_zip);
  }
  const util::UploadFiles files = {{kFilePartName, upload_path.value()}};
  const bool uploaded =
      util::MultipartUpload(GetUploadUserAgentSuffix(), GetCrashServerUrl(),
                            form_fields(), files, std::nullopt, nullptr, nullptr);
  if (compress())
    base::DeletePath(upload_path, false);
  return uploaded;
}

}  // namespace installer
