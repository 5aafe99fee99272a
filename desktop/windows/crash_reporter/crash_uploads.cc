#include "desktop/windows/crash_reporter/crash_uploads.h"

#include <windows.h>

#include <utility>

#include "base/logging.h"
#include "desktop/windows/crash_reporter/alternative_upload_job.h"
#include "desktop/windows/crash_reporter/crash_server_upload_job.h"
#include "desktop/windows/crash_reporter/reporter_quit_signal.h"

namespace installer {

namespace {

DWORD WINAPI RunQueuedJob(void* context) {
  {
    std::unique_ptr<CrashUploadJob> job(static_cast<CrashUploadJob*>(context));
    job->Run();
  }
  // Only after the job, and so its file, is gone may the reporter end.
  ReporterQuitSignal::Instance()->ReleaseHold();
  return 0;
}

bool QueueJob(std::unique_ptr<CrashUploadJob> job) {
  ReporterQuitSignal* quit_signal = ReporterQuitSignal::Instance();
  quit_signal->AddHold();
  // Uploads wait on the network: long-running, so the pool does not starve
  // its other callbacks.
  if (::QueueUserWorkItem(&RunQueuedJob, job.get(), WT_EXECUTELONGFUNCTION)) {
    job.release();  // The work item owns it now.
    return true;
  }
  PLOG(ERROR) << "QueueUserWorkItem";
  job.reset();
  quit_signal->ReleaseHold();
  return false;
}

}  // namespace

bool PostCrashServerUpload(const base::FilePath& file_path,
                           std::unique_ptr<util::UploadFormFields> form_fields,
                           bool delete_file) {
  return QueueJob(std::make_unique<CrashServerUploadJob>(
      file_path, std::move(form_fields), delete_file, /*compress=*/true));
}

bool PostAlternativeUpload(const base::FilePath& file_path,
                           std::unique_ptr<util::UploadFormFields> form_fields,
                           bool delete_file) {
  return QueueJob(std::make_unique<AlternativeUploadJob>(
      file_path, std::move(form_fields), delete_file, /*compress=*/true));
}

bool RunCrashServerUpload(const base::FilePath& file_path,
                          std::unique_ptr<util::UploadFormFields> form_fields,
                          bool zip) {
  return CrashServerUploadJob(file_path, std::move(form_fields),
                              /*delete_file=*/true, zip)
      .Run();
}

bool RunAlternativeUpload(const base::FilePath& file_path,
                          std::unique_ptr<util::UploadFormFields> form_fields,
                          bool gzip) {
  return AlternativeUploadJob(file_path, std::move(form_fields),
                              /*delete_file=*/true, gzip)
      .Run();
}

}  // namespace installer
