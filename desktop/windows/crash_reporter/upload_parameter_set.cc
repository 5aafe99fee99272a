#include "desktop/windows/crash_reporter/upload_parameter_set.h"

#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"

namespace installer {

UploadParameterSet::UploadParameterSet()
    : fields_(std::make_unique<util::UploadFormFields>()) {}

UploadParameterSet::~UploadParameterSet() = default;

void UploadParameterSet::Set(const std::wstring& name,
                             const std::wstring& value) {
  fields_->emplace(name, value);
}

void UploadParameterSet::SetUtf8(const std::wstring& name,
                                 const std::string& value) {
  Set(name, base::Utf8ToWide(value));
}

void UploadParameterSet::SetInt(const std::wstring& name, int32_t value) {
  Set(name, base::IntToString16(value));
}

void UploadParameterSet::SetInt64(const std::wstring& name, int64_t value) {
  Set(name, base::Int64ToString16(value));
}

bool UploadParameterSet::Has(const std::wstring& name) const {
  return fields_->count(name) != 0;
}

std::unique_ptr<util::UploadFormFields> UploadParameterSet::Release() {
  auto fields = std::move(fields_);
  fields_ = std::make_unique<util::UploadFormFields>();
  return fields;
}

}  // namespace installer
