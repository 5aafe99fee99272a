#include "desktop/windows/installer/install_log/install_log_writer.h"

#include <windows.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "base/files/important_file_writer.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/xml/xml_writer.h"

namespace installer {

namespace {

struct ShortcutElement {
  std::wstring InstallLog::*field;
  const char* all_users_type;
  const char* current_user_type;
};

// In the order the elements are written.
constexpr ShortcutElement kShortcutElements[] = {
    {&InstallLog::desktop_shortcut, "SC_DEST_COMMON_DESKTOP",
     "SC_DEST_DESKTOP"},
    {&InstallLog::start_menu_shortcut, "SC_DEST_COMMON_MENU", "SC_DEST_MENU"},
    {&InstallLog::quick_launch_shortcut, "SC_DEST_QUICK_LAUNCH",
     "SC_DEST_QUICK_LAUNCH"},
};

const char* FlagText(bool flag) {
  return flag ? "True" : "False";
}

// Emits the elements of one record in the order the reader expects them.
class InstallLogBuilder {
 public:
  InstallLogBuilder(XmlWriter* writer, const InstallLog& log)
      : writer_(*writer), log_(log) {}

  bool Build() {
    return WriteRoot() && WritePath() && WriteFileList("files", log_.files) &&
           (log_.root_files.empty() ||
            WriteFileList("root_files", log_.root_files)) &&
           WriteRegistry("HKLM", log_.hklm_registry) &&
           WriteRegistry("HKCU", log_.hkcu_registry) && WriteShortcuts() &&
           WriteComponents() && writer_.EndElement();
  }

 private:
  bool TextElement(const char* name, const std::string& text) {
    return writer_.StartElement(name) && writer_.Characters(text) &&
           writer_.EndElement();
  }

  bool WriteRoot() {
    return writer_.StartElement("install_log") &&
           writer_.AddAttribute("version", log_.version) &&
           writer_.AddAttribute("copy_only", FlagText(log_.copy_only)) &&
           writer_.AddAttribute("all_users", FlagText(log_.all_users)) &&
           writer_.AddAttribute("pinned", FlagText(log_.pinned)) &&
           writer_.AddAttribute("app_id", log_.app_id);
  }

  bool WritePath() {
    return writer_.StartElement("path") &&
           writer_.AddAttribute("subfolder",
                                base::WideToUtf8(log_.subfolder)) &&
           writer_.Characters(base::WideToUtf8(log_.path)) &&
           writer_.EndElement();
  }

  // The files element is written also when the list is empty.
  bool WriteFileList(const char* name, const std::vector<std::wstring>& files) {
    if (!writer_.StartElement(name))
      return false;
    for (const std::wstring& file : files) {
      if (!TextElement("file", base::WideToUtf8(file)))
        return false;
    }
    return writer_.EndElement();
  }

  bool WriteRegistry(const char* hive, const RegistryData& registry) {
    if (registry.empty())
      return true;
    if (!writer_.StartElement("registry") ||
        !writer_.AddAttribute("hive", hive)) {
      return false;
    }
    for (const RegistryKeyRecord& key : registry) {
      if (!WriteKey(key))
        return false;
    }
    return writer_.EndElement();
  }

  bool WriteKey(const RegistryKeyRecord& key) {
    if (!writer_.StartElement("key") ||
        !writer_.AddAttribute("path", key.key_path) ||
        !writer_.AddAttribute("clean", base::IntToString(key.clean_depth))) {
      return false;
    }
    // Only written for the 32-bit view, so that logs of keys in the default
    // view read as they always did.
    if ((key.view & KEY_WOW64_32KEY) && !writer_.AddAttribute("view", "32"))
      return false;
    for (const RegistryValueRecord& value : key.values) {
      if (!writer_.StartElement("value") ||
          !writer_.AddAttribute("name", value.name) ||
          !writer_.AddAttribute("type", value.type_name) ||
          !writer_.Characters(value.data) || !writer_.EndElement()) {
        return false;
      }
    }
    return writer_.EndElement();
  }

  bool WriteShortcuts() {
    for (const ShortcutElement& shortcut : kShortcutElements) {
      const std::wstring& path = log_.*shortcut.field;
      if (path.empty())
        continue;
      if (!writer_.StartElement("shortcut") ||
          !writer_.AddAttribute("type", log_.all_users
                                            ? shortcut.all_users_type
                                            : shortcut.current_user_type) ||
          !writer_.Characters(base::WideToUtf8(path)) ||
          !writer_.EndElement()) {
        return false;
      }
    }
    return true;
  }

  // Always the last element: the reader allows nothing after it.
  bool WriteComponents() {
    if (log_.components.empty())
      return true;
    if (!writer_.StartElement("components"))
      return false;
    for (const auto& [name, path] : log_.components) {
      if (!writer_.StartElement("component") || !TextElement("name", name) ||
          !TextElement("path", base::WideToUtf8(path)) ||
          !writer_.EndElement()) {
        return false;
      }
    }
    return writer_.EndElement();
  }

  XmlWriter& writer_;
  const InstallLog& log_;
};

}  // namespace

InstallLogWriter::InstallLogWriter() : writer_(std::make_unique<XmlWriter>()) {}

InstallLogWriter::~InstallLogWriter() = default;

bool InstallLogWriter::Write(
    const InstallLog& log,
    const base::FilePath& path,
    base::ImportantFileWriter::TemporaryFileMaker* maker) {
  std::string text;
  if (!Serialize(log, &text)) {
    LOG(ERROR) << "Cannot build the install log for " << path.AsUTF8();
    return false;
  }
  // The previous log may already be gone (an update moves it aside first):
  // a log written in place and cut short would lose what undoes this
  // installation.
  if (!base::ImportantFileWriter::WriteFileAtomically(path, text, maker)) {
    LOG(ERROR) << "Cannot write the install log " << path.AsUTF8();
    return false;
  }
  return true;
}

bool InstallLogWriter::Serialize(const InstallLog& log, std::string* text) {
  if (!writer_->Create() || !InstallLogBuilder(writer_.get(), log).Build() ||
      !writer_->Serialize(text)) {
    return false;
  }
  CHECK(text->size() <=
        static_cast<size_t>(std::numeric_limits<int32_t>::max()))
      << "Install log of " << text->size() << " bytes";
  return true;
}

}  // namespace installer
