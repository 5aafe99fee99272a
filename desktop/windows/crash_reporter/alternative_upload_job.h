#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_ALTERNATIVE_UPLOAD_JOB_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_ALTERNATIVE_UPLOAD_JOB_H_

#include <memory>

#include "desktop/windows/crash_reporter/crash_upload_job.h"
#include "util/net/multipart_body_builder.h"

namespace installer {

// Posts a minidump to the alternative collector over WinHTTP as the part
// "upload_file_minidump", the body gzipped when `compress` is set.
class AlternativeUploadJob : public CrashUploadJob {
 public:
  using CrashUploadJob::CrashUploadJob;

  bool Run() override;

  // The body Run sends: the form fields, then the dump.
  std::unique_ptr<util::MultipartBodyBuilder> BuildBody() const;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_ALTERNATIVE_UPLOAD_JOB_H_
