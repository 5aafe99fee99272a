#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_SERVER_UPLOAD_JOB_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_SERVER_UPLOAD_JOB_H_

#include "desktop/windows/crash_reporter/crash_upload_job.h"

namespace installer {

// Posts a crash log to the crash server over WinINet as the part "file",
// zipped first when `compress` is set (the zip is removed afterwards).
class CrashServerUploadJob : public CrashUploadJob {
 public:
  using CrashUploadJob::CrashUploadJob;

  bool Run() override;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_SERVER_UPLOAD_JOB_H_
