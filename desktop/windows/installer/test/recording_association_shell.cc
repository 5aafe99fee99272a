#include "desktop/windows/installer/test/recording_association_shell.h"

#include <string>

#include "base/strings/string_format.h"

namespace installer::test {

bool RecordingAssociationShell::QueryAppIsDefault(
    const std::wstring& query,
    ASSOCIATIONTYPE type,
    ASSOCIATIONLEVEL level,
    const std::wstring& application) {
  calls_.push_back(
      base::FormatWideString(L"QueryAppIsDefault(%ls, %d, %d, %ls)",
                             query.c_str(), type, level, application.c_str()));
  return succeeds_ && is_default_;
}

bool RecordingAssociationShell::SetAppAsDefault(const std::wstring& application,
                                                const std::wstring& association,
                                                ASSOCIATIONTYPE type) {
  calls_.push_back(base::FormatWideString(L"SetAppAsDefault(%ls, %ls, %d)",
                                          application.c_str(),
                                          association.c_str(), type));
  return succeeds_;
}

bool RecordingAssociationShell::ShowOpenWithDialog(const std::wstring& file,
                                                   OPEN_AS_INFO_FLAGS flags) {
  calls_.push_back(base::FormatWideString(L"ShowOpenWithDialog(%ls, 0x%x)",
                                          file.c_str(), flags));
  return succeeds_;
}

void RecordingAssociationShell::NotifyAssociationChanged() {
  calls_.push_back(L"NotifyAssociationChanged()");
}

bool RecordingAssociationShell::ActivateApplication(
    const std::wstring& app_user_model_id,
    const std::vector<std::wstring>& arguments) {
  std::wstring call = L"ActivateApplication(" + app_user_model_id;
  for (const std::wstring& argument : arguments)
    call += L", " + argument;
  calls_.push_back(call + L")");
  return succeeds_;
}

}  // namespace installer::test
