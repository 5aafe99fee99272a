#include "desktop/windows/crash_reporter/crash_uploads.h"

#include <windows.h>

#include <utility>

#include "base/logging.h"
#include "desktop/windows/crash_reporter/alternative_upload_job.h"
#include "desktop/windows/crash_reporter/crash_server_upload_job.h"

namespace installer {

namespace {

struct UploadHolds {
  UploadHoldFunction add = nullptr;
  UploadHoldFunction release = nullptr;
};

UploadHolds& Holds() {
  static UploadHolds holds;
  return holds;
}

void AddHold() {
  if (Holds().add)
    Holds().add();
}

void ReleaseHold() {
  if (Holds().release)
    Holds().release();
}

DWORD WINAPI RunQueuedJob(void* context) {
  {
    std::unique_ptr<CrashUploadJob> job(static_cast<CrashUploadJob*>(context));
    job->Run();
  }
  // Only after the job, and so its file, is gone may the reporter end.
  ReleaseHold();
  return 0;
}

bool QueueJob(std::unique_ptr<CrashUploadJob> job) {
  AddHold();
  // Uploads wait on the network: long-running, so the pool does not starve
  // its other callbacks.
  if (::QueueUserWorkItem(&RunQueuedJob, job.get(), WT_EXECUTELONGFUNCTION)) {
    job.release();  // The work item owns it now.
    return true;
  }
  PLOG(ERROR) << "QueueUserWorkItem";
  job.reset();
  ReleaseHold();
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

void SetUploadHoldFunctions(UploadHoldFunction add_hold,
                            UploadHoldFunction release_hold) {
  Holds().add = add_hold;
  Holds().release = release_hold;
}

}  // namespace installer
