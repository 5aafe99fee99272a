#include "desktop/windows/crash_reporter/crash_upload_job.h"

#include <utility>

#include "base/files/file_util.h"
#include "base/logging.h"

namespace installer {

CrashUploadJob::CrashUploadJob(const base::FilePath& file_path,
                               std::unique_ptr<util::UploadFormFields> form_fields,
                               bool delete_file,
                               bool compress)
    : file_path_(file_path),
      form_fields_(form_fields ? std::move(form_fields)
                               : std::make_unique<util::UploadFormFields>()),
      delete_file_(delete_file),
      compress_(compress) {}

CrashUploadJob::~CrashUploadJob() {
  if (delete_file_ && !base::DeletePath(file_path_, false))
    PLOG(WARNING) << "Cannot delete " << file_path_.AsUTF8();
}

}  // namespace installer
