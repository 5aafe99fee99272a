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
// the minidump gzipped to the alternative collector. The job holds the
// reporter's quit signal from before it is queued until it has run and is
// gone, file and all.
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

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_UPLOADS_H_
