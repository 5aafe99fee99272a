#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_UPLOAD_JOB_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_UPLOAD_JOB_H_

#include <memory>

#include "base/files/file_path.h"
#include "util/net/multipart_upload.h"

namespace installer {

// One upload of a crash file with its form fields. Runs once, on whichever
// thread it is given to; destroying the job deletes the file when asked to.
class CrashUploadJob {
 public:
  CrashUploadJob(const base::FilePath& file_path,
                 std::unique_ptr<util::UploadFormFields> form_fields,
                 bool delete_file,
                 bool compress);
  CrashUploadJob(const CrashUploadJob&) = delete;
  CrashUploadJob& operator=(const CrashUploadJob&) = delete;
  virtual ~CrashUploadJob();

  virtual bool Run() = 0;

 protected:
  const base::FilePath& file_path() const { return file_path_; }
  // Empty when the job was given none.
  const util::UploadFormFields& form_fields() const { return *form_fields_; }
  bool compress() const { return compress_; }

 private:
  base::FilePath file_path_;
  std::unique_ptr<util::UploadFormFields> form_fields_;
  bool delete_file_;
  bool compress_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_UPLOAD_JOB_H_
