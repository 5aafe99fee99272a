#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_UPLOAD_PARAMETER_SET_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_UPLOAD_PARAMETER_SET_H_

#include <cstdint>
#include <memory>
#include <string>

#include "util/net/multipart_upload.h"

namespace installer {

// The form fields of one crash upload, filled from several sources in
// order of precedence: setting a name that is already there keeps the
// first value.
class UploadParameterSet {
 public:
  UploadParameterSet();
  UploadParameterSet(const UploadParameterSet&) = delete;
  UploadParameterSet& operator=(const UploadParameterSet&) = delete;
  ~UploadParameterSet();

  void Set(const std::wstring& name, const std::wstring& value);
  void SetUtf8(const std::wstring& name, const std::string& value);
  void SetInt(const std::wstring& name, int32_t value);
  void SetInt64(const std::wstring& name, int64_t value);
  bool Has(const std::wstring& name) const;

  const util::UploadFormFields& fields() const { return *fields_; }
  // For the upload job, which owns them from then on.
  std::unique_ptr<util::UploadFormFields> Release();

 private:
  std::unique_ptr<util::UploadFormFields> fields_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_UPLOAD_PARAMETER_SET_H_
