#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_UPLOADS_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_UPLOADS_H_

#include <memory>

#include "base/files/file_path.h"
#include "util/net/multipart_upload.h"

namespace installer {

// The uploads of the crash reporter. Call InitCrashServerUrls first.

// Queue the upload on the system thread pool and return whether it was
// queued; a job that cannot be queued is dropped at once, its file deleted
// when `delete_file` says so. The crash log goes zipped to the crash server;
// the minidump gzipped to the alternative collector.
bool PostCrashServerUpload(const base::FilePath& file_path,
                           std::unique_ptr<util::UploadFormFields> form_fields,
                           bool delete_file);
bool PostAlternativeUpload(const base::FilePath& file_path,
                           std::unique_ptr<util::UploadFormFields> form_fields,
                           bool delete_file);

// Upload at once on the calling thread, then delete the file; true when the
// server took it.
bool RunCrashServerUpload(const base::FilePath& file_path,
                          std::unique_ptr<util::UploadFormFields> form_fields,
                          bool zip);
bool RunAlternativeUpload(const base::FilePath& file_path,
                          std::unique_ptr<util::UploadFormFields> form_fields,
                          bool gzip);

// What keeps the reporter alive while a queued upload waits or runs: a hold
// is added before the job is queued and released once it has been run and
// destroyed (or dropped). Set once at start-up, before any job is queued;
// without them queued jobs hold nothing.
using UploadHoldFunction = void (*)();
void SetUploadHoldFunctions(UploadHoldFunction add_hold,
                            UploadHoldFunction release_hold);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_UPLOADS_H_
