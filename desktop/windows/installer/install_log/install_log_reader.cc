#include "desktop/windows/installer/install_log/install_log_reader.h"

#include <windows.h>

#include <string_view>
#include <utility>
#include <vector>

#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/xml/xml_reader.h"

namespace installer {

namespace {

struct RootFlag {
  const char* attribute;
  bool InstallLog::*field;
  const char* missing;
};

constexpr RootFlag kRootFlags[] = {
    {"copy_only", &InstallLog::copy_only,
     "There's no copy_only attribute on the root element"},
    {"all_users", &InstallLog::all_users,
     "There's no all_users attribute on the root element"},
    {"pinned", &InstallLog::pinned,
     "There's no pinned attribute on the root element"},
};

struct ShortcutType {
  std::string_view type;
  std::wstring InstallLog::*field;
};

constexpr ShortcutType kShortcutTypes[] = {
    {"SC_DEST_DESKTOP", &InstallLog::desktop_shortcut},
    {"SC_DEST_COMMON_DESKTOP", &InstallLog::desktop_shortcut},
    {"SC_DEST_MENU", &InstallLog::start_menu_shortcut},
    {"SC_DEST_COMMON_MENU", &InstallLog::start_menu_shortcut},
    {"SC_DEST_QUICK_LAUNCH", &InstallLog::quick_launch_shortcut},
};

// The failures of one list of "file" elements.
struct FileListTexts {
  // The writer writes the files element also for no files at all.
  bool may_be_empty;
  const char* no_first_child;
  const char* misnamed;
  const char* no_text;
  const char* no_way_back;
  const char* traversal;
};

constexpr FileListTexts kFileTexts = {
    true,
    "Cannot proceed to the first file on the list",
    "File element is incorrectly named",
    "Cannot get text content of a file element",
    "Cannot get back to the files list",
    "Failed traversing the files list",
};

constexpr FileListTexts kRootFileTexts = {
    false,
    "Cannot proceed to the first root file",
    "A root file is incorrectly named",
    "Cannot get text of a root file",
    "Cannot get back to the root files list",
    "Failed traversing the root files list",
};

std::wstring ToWideField(const std::string& utf8) {
  std::wstring wide = base::Utf8ToWide(utf8);
  return wide.substr(0, wide.find(L'\0'));
}

bool FollowsRootFiles(const std::string& name) {
  return name == "registry" || name == "shortcut" || name == "components";
}

// Walks the document in the writer's order. Every step leaves the cursor on
// the element the next one looks at.
class InstallLogParser {
 public:
  InstallLogParser(XmlReader* reader, InstallLog* log, std::string* error)
      : reader_(*reader), log_(*log), error_(*error) {}

  bool Parse() {
    if (!ReadRoot() || !ReadPath() || !ReadFiles())
      return false;
    for (auto section :
         {&InstallLogParser::ReadRootFiles, &InstallLogParser::ReadRegistry,
          &InstallLogParser::ReadShortcuts}) {
      Next next = (this->*section)();
      if (next != Next::kElement)
        return next == Next::kEnd;
    }
    return ReadComponents();
  }

 private:
  // Where an optional section leaves the read.
  enum class Next {
    kFailed,
    // The document holds nothing more: the log is complete.
    kEnd,
    // The cursor is on a further element, named `name_`.
    kElement,
  };

  enum class ListStep { kNextItem, kListEnd, kNextFailed, kBackUpFailed };

  bool Fail(std::string text) {
    error_ = std::move(text);
    return false;
  }

  Next FailSection(std::string text) {
    Fail(std::move(text));
    return Next::kFailed;
  }

  bool IsNamed(const char* name) {
    std::string current;
    return reader_.GetName(&current) && current == name;
  }

  // Moves on to the next item of a list, or back to the list's element
  // after the last one.
  ListStep StepThroughList() {
    switch (reader_.GoToNextSibling()) {
      case XmlReader::kMoved:
        return ListStep::kNextItem;
      case XmlReader::kNoSuchElement:
        return reader_.GoToParent() == XmlReader::kMoved
                   ? ListStep::kListEnd
                   : ListStep::kBackUpFailed;
      case XmlReader::kFailed:
        break;
    }
    return ListStep::kNextFailed;
  }

  // Past the files every section is optional, and the document may end
  // where a section would begin.
  Next MoveOn(const char* move_failed, const char* name_failed) {
    switch (reader_.GoToNextSibling()) {
      case XmlReader::kMoved:
        break;
      case XmlReader::kNoSuchElement:
        return Next::kEnd;
      case XmlReader::kFailed:
        return FailSection(move_failed);
    }
    return reader_.GetName(&name_) ? Next::kElement : FailSection(name_failed);
  }

  bool ReadRoot() {
    if (reader_.GoToFirstChild() != XmlReader::kMoved)
      return Fail("Cannot proceed to the root element");
    if (!IsNamed("install_log"))
      return Fail("The root element's name is invalid");
    if (!reader_.GetAttribute("version", &log_.version))
      return Fail("There's no version attribute on the root element");
    reader_.GetAttribute("app_id", &log_.app_id);
    for (const RootFlag& flag : kRootFlags) {
      std::string value;
      if (!reader_.GetAttribute(flag.attribute, &value))
        return Fail(flag.missing);
      log_.*flag.field = value == "True";
    }
    return true;
  }

  bool ReadPath() {
    if (reader_.GoToFirstChild() != XmlReader::kMoved)
      return Fail("Cannot proceed to the path");
    if (!IsNamed("path"))
      return Fail("The path element is not named correctly");
    std::string text;
    if (reader_.GetAttribute("subfolder", &text))
      log_.subfolder = ToWideField(text);
    if (!reader_.GetText(&text))
      return Fail("Cannot get text contents of path");
    log_.path = ToWideField(text);
    return true;
  }

  bool ReadFiles() {
    if (reader_.GoToNextSibling() != XmlReader::kMoved)
      return Fail("Cannot go to files element");
    if (!IsNamed("files"))
      return Fail("Files element is incorrectly named");
    return ReadFileList(&log_.files, kFileTexts);
  }

  bool ReadFileList(std::vector<std::wstring>* list,
                    const FileListTexts& texts) {
    switch (reader_.GoToFirstChild()) {
      case XmlReader::kMoved:
        break;
      case XmlReader::kNoSuchElement:
        return texts.may_be_empty || Fail(texts.no_first_child);
      case XmlReader::kFailed:
        return Fail(texts.no_first_child);
    }
    for (;;) {
      if (!IsNamed("file"))
        return Fail(texts.misnamed);
      std::string text;
      if (!reader_.GetText(&text))
        return Fail(texts.no_text);
      list->push_back(ToWideField(text));
      switch (StepThroughList()) {
        case ListStep::kNextItem:
          continue;
        case ListStep::kListEnd:
          return true;
        case ListStep::kBackUpFailed:
          return Fail(texts.no_way_back);
        case ListStep::kNextFailed:
          return Fail(texts.traversal);
      }
    }
  }

  Next ReadRootFiles() {
    Next next = MoveOn("Cannot proceed to the expected root files list",
                       "Cannot get the expected root files list name");
    if (next != Next::kElement)
      return next;
    if (name_ != "root_files") {
      return FollowsRootFiles(name_)
                 ? Next::kElement
                 : FailSection(
                       "Invalid element in place of the optional root files "
                       "list");
    }
    if (!ReadFileList(&log_.root_files, kRootFileTexts))
      return Next::kFailed;
    next = MoveOn("Cannot proceed from the root files list",
                  "Cannot get root files list successor name");
    if (next != Next::kElement)
      return next;
    return FollowsRootFiles(name_)
               ? Next::kElement
               : FailSection("Invalid successor of root files list");
  }

  Next ReadRegistry() {
    if (name_ != "registry")
      return Next::kElement;
    do {
      std::string hive;
      if (!reader_.GetAttribute("hive", &hive))
        return FailSection(
            "Cannot get the hive attibute of a registry element");
      RegistryData* registry = hive == "HKLM"   ? &log_.hklm_registry
                               : hive == "HKCU" ? &log_.hkcu_registry
                                                : nullptr;
      if (!registry)
        return FailSection("The hive attribute is not HKLM nor HKCU");
      if (!ReadKeys(registry))
        return FailSection(std::string());
      switch (reader_.GoToNextSibling()) {
        case XmlReader::kMoved:
          break;
        case XmlReader::kNoSuchElement:
          return Next::kEnd;
        case XmlReader::kFailed:
          return FailSection("Failure while traversing registry keys");
      }
      if (!reader_.GetName(&name_))
        name_.clear();
    } while (name_ == "registry");
    return name_ == "shortcut" || name_ == "components"
               ? Next::kElement
               : FailSection("Invalid successor of the registry element");
  }

  // Failures inside a registry element carry no text of their own.
  bool ReadKeys(RegistryData* registry) {
    if (reader_.GoToFirstChild() != XmlReader::kMoved)
      return false;
    for (;;) {
      RegistryKeyRecord key;
      std::string clean;
      if (!IsNamed("key") || !reader_.GetAttribute("path", &key.key_path) ||
          !reader_.GetAttribute("clean", &clean) ||
          !base::StringToInt(clean, &key.clean_depth) || !ReadView(&key)) {
        return false;
      }
      switch (reader_.GoToFirstChild()) {
        case XmlReader::kMoved:
          if (!ReadValues(&key.values))
            return false;
          break;
        case XmlReader::kNoSuchElement:
          break;
        case XmlReader::kFailed:
          return false;
      }
      registry->push_back(std::move(key));
      switch (StepThroughList()) {
        case ListStep::kNextItem:
          continue;
        case ListStep::kListEnd:
          return true;
        case ListStep::kNextFailed:
        case ListStep::kBackUpFailed:
          return false;
      }
    }
  }

  // Logs of keys in the default view carry no view at all; a view this
  // reader does not know cannot be undone safely and fails the read.
  bool ReadView(RegistryKeyRecord* key) {
    std::string view;
    if (!reader_.GetAttribute("view", &view))
      return true;
    if (view != "32")
      return false;
    key->view = KEY_WOW64_32KEY;
    return true;
  }

  // Starts on the key's first child, ends back on the key.
  bool ReadValues(std::vector<RegistryValueRecord>* values) {
    for (;;) {
      RegistryValueRecord value;
      if (!IsNamed("value") || !reader_.GetAttribute("name", &value.name) ||
          !reader_.GetAttribute("type", &value.type_name) ||
          !reader_.GetText(&value.data)) {
        return false;
      }
      values->push_back(std::move(value));
      switch (StepThroughList()) {
        case ListStep::kNextItem:
          continue;
        case ListStep::kListEnd:
          return true;
        case ListStep::kNextFailed:
        case ListStep::kBackUpFailed:
          return false;
      }
    }
  }

  // A log without shortcuts goes straight on to its components.
  Next ReadShortcuts() {
    if (name_ != "shortcut")
      return Next::kElement;
    do {
      std::string type;
      if (!reader_.GetAttribute("type", &type))
        return FailSection(
            "A shortcut element doesn't feature a type attribute");
      std::string text;
      if (!reader_.GetText(&text))
        return FailSection(std::string());
      if (!StoreShortcut(type, ToWideField(text)))
        return FailSection("Invalid shortcut type " + type);
      Next next = MoveOn("Failure while traversing shortcuts",
                         "Failed getting the shortcut successor element name");
      if (next != Next::kElement)
        return next;
    } while (name_ == "shortcut");
    return name_ == "components" ? Next::kElement : FailSection(std::string());
  }

  bool StoreShortcut(const std::string& type, std::wstring path) {
    for (const ShortcutType& known : kShortcutTypes) {
      if (known.type == type) {
        log_.*known.field = std::move(path);
        return true;
      }
    }
    return false;
  }

  bool ReadComponents() {
    if (name_ != "components")
      return true;
    if (reader_.GoToFirstChild() != XmlReader::kMoved)
      return Fail("Failed going to the first component");
    for (;;) {
      if (!ReadComponent())
        return false;
      switch (StepThroughList()) {
        case ListStep::kNextItem:
          continue;
        case ListStep::kListEnd:
          if (reader_.GoToNextSibling() != XmlReader::kNoSuchElement)
            return Fail("Components are not the last element in status");
          return true;
        case ListStep::kBackUpFailed:
          return Fail("Cannot get back to the root of component list");
        case ListStep::kNextFailed:
          return Fail("Failure while traversing components");
      }
    }
  }

  // Starts and ends on the component element.
  bool ReadComponent() {
    if (!IsNamed("component"))
      return Fail("A component element is not called component");
    if (reader_.GoToFirstChild() != XmlReader::kMoved)
      return Fail("Cannot go to first child of a component");
    if (!IsNamed("name"))
      return Fail("Component's first child is not called name");
    std::string name;
    if (!reader_.GetText(&name))
      return Fail("Cannot get component's name as text");
    if (reader_.GoToNextSibling() != XmlReader::kMoved)
      return Fail("Cannot go to component.name sibling");
    if (!IsNamed("path"))
      return Fail("component.path is not called path");
    std::string path;
    if (!reader_.GetText(&path))
      return Fail("Cannot get the path of a component as text");
    log_.components.emplace_back(std::move(name), ToWideField(path));
    if (reader_.GoToParent() != XmlReader::kMoved)
      return Fail("Cannot get back to the component's parent element");
    return true;
  }

  XmlReader& reader_;
  InstallLog& log_;
  std::string& error_;
  // The name of the current element once the files are read.
  std::string name_;
};

}  // namespace

InstallLogReader::InstallLogReader() : reader_(std::make_unique<XmlReader>()) {}

InstallLogReader::~InstallLogReader() = default;

bool InstallLogReader::Read(InstallLog* log, const base::FilePath& path) {
  error_.clear();
  log->files.clear();
  log->root_files.clear();
  log->hklm_registry.clear();
  log->hkcu_registry.clear();
  std::string load_error;
  if (!reader_->LoadFile(path, &load_error)) {
    error_ = "Cannot parse the file as XML: " + load_error;
    return false;
  }
  return InstallLogParser(reader_.get(), log, &error_).Parse();
}

}  // namespace installer
