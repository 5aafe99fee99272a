#include "base/win/shortcut.h"

#include <windows.h>

#include <objbase.h>
#include <propsys.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "base/win/com_ptr.h"
#include "base/win/propvariant_util.h"
#include "base/win/windows_version.h"

namespace base::win {

namespace {

constexpr CLSID kShellLinkClass = {
    0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Every text field of a link is read into a buffer of this many characters.
constexpr int kFieldLength = MAX_PATH;

bool HasOption(uint32_t options, uint32_t option) {
  return (options & option) != 0;
}

// The app user model properties and taskbar pinning exist from Windows 7 on.
bool IsWindows7OrLater() {
  return GetWindowsVersion() >= kVersionWin7;
}

struct ShellLink {
  ComPtr<IShellLinkW> link;
  ComPtr<IPersistFile> file;

  bool Create() {
    return SUCCEEDED(link.CreateInstance(kShellLinkClass)) &&
           SUCCEEDED(link.QueryInterface(&file));
  }
  bool Load(const FilePath& path, DWORD mode) {
    return Create() && SUCCEEDED(file->Load(path.value().c_str(), mode));
  }
  void Reset() {
    file.Reset();
    link.Reset();
  }
};

bool ApplyShellLinkFields(const ShortcutProperties& properties,
                          IShellLinkW* link,
                          IShellLinkW* old_link) {
  const uint32_t options = properties.options;
  if (HasOption(options, ShortcutProperties::kTarget) &&
      FAILED(link->SetPath(properties.target.value().c_str()))) {
    return false;
  }
  if (HasOption(options, ShortcutProperties::kWorkingDirectory) &&
      FAILED(link->SetWorkingDirectory(
          properties.working_directory.value().c_str()))) {
    return false;
  }
  if (HasOption(options, ShortcutProperties::kArguments)) {
    if (FAILED(link->SetArguments(properties.arguments.c_str())))
      return false;
  } else if (old_link) {
    // Carrying the old arguments over is a courtesy: it never fails the call.
    wchar_t arguments[kFieldLength] = {};
    if (SUCCEEDED(old_link->GetArguments(arguments, kFieldLength)))
      link->SetArguments(arguments);
  }
  if (HasOption(options, ShortcutProperties::kDescription) &&
      FAILED(link->SetDescription(properties.description.c_str()))) {
    return false;
  }
  if (HasOption(options, ShortcutProperties::kIcon) &&
      FAILED(link->SetIconLocation(properties.icon.value().c_str(),
                                   properties.icon_index))) {
    return false;
  }
  return true;
}

bool ApplyAppUserModelFields(const ShortcutProperties& properties,
                             IShellLinkW* link) {
  const uint32_t options = properties.options;
  const bool has_app_id = HasOption(options, ShortcutProperties::kAppId);
  const bool has_dual_mode = HasOption(options, ShortcutProperties::kDualMode);
  if ((!has_app_id && !has_dual_mode) || !IsWindows7OrLater())
    return true;
  ComPtr<IPropertyStore> store;
  if (FAILED(link->QueryInterface(__uuidof(IPropertyStore),
                                  store.ReceiveVoid()))) {
    return false;
  }
  if (has_app_id &&
      !SetStringPropertyValue(store.Get(), properties.app_id.c_str())) {
    return false;
  }
  if (has_dual_mode &&
      !SetBooleanPropertyValue(store.Get(), properties.dual_mode)) {
    return false;
  }
  return true;
}

// Reads one text field with `getter`, cut at its first NUL.
template <class Getter>
bool ReadField(Getter getter, std::wstring* out) {
  wchar_t buffer[kFieldLength] = {};
  if (FAILED(getter(buffer)))
    return false;
  buffer[kFieldLength - 1] = L'\0';
  *out = buffer;
  return true;
}

bool ReadShellLinkFields(IShellLinkW* link,
                         uint32_t options,
                         ShortcutProperties* out) {
  std::wstring text;
  if (HasOption(options, ShortcutProperties::kTarget)) {
    if (!ReadField([link](wchar_t* buffer) {
          return link->GetPath(buffer, kFieldLength, nullptr,
                               SLGP_UNCPRIORITY);
        }, &text)) {
      return false;
    }
    out->set_target(FilePath(text));
  }
  if (HasOption(options, ShortcutProperties::kWorkingDirectory)) {
    if (!ReadField([link](wchar_t* buffer) {
          return link->GetWorkingDirectory(buffer, kFieldLength);
        }, &text)) {
      return false;
    }
    out->set_working_directory(FilePath(text));
  }
  if (HasOption(options, ShortcutProperties::kArguments)) {
    if (!ReadField([link](wchar_t* buffer) {
          return link->GetArguments(buffer, kFieldLength);
        }, &text)) {
      return false;
    }
    out->set_arguments(text);
  }
  if (HasOption(options, ShortcutProperties::kDescription)) {
    if (!ReadField([link](wchar_t* buffer) {
          return link->GetDescription(buffer, kFieldLength);
        }, &text)) {
      return false;
    }
    out->set_description(text);
  }
  if (HasOption(options, ShortcutProperties::kIcon)) {
    int index = 0;
    if (!ReadField([link, &index](wchar_t* buffer) {
          return link->GetIconLocation(buffer, kFieldLength, &index);
        }, &text)) {
      return false;
    }
    out->set_icon(FilePath(text), index);
  }
  return true;
}

// Owns a PROPVARIANT read from a property store.
class ScopedPropVariant {
 public:
  ScopedPropVariant() { ::PropVariantInit(&variant_); }
  ScopedPropVariant(const ScopedPropVariant&) = delete;
  ScopedPropVariant& operator=(const ScopedPropVariant&) = delete;
  ~ScopedPropVariant() { ::PropVariantClear(&variant_); }

  const PROPVARIANT& Get() const { return variant_; }
  PROPVARIANT* Receive() {
    ::PropVariantClear(&variant_);
    return &variant_;
  }

 private:
  PROPVARIANT variant_;
};

bool ReadAppUserModelFields(IShellLinkW* link,
                            uint32_t options,
                            ShortcutProperties* out) {
  const bool wants_app_id = HasOption(options, ShortcutProperties::kAppId);
  const bool wants_dual_mode =
      HasOption(options, ShortcutProperties::kDualMode);
  if ((!wants_app_id && !wants_dual_mode) || !IsWindows7OrLater())
    return true;
  ComPtr<IPropertyStore> store;
  if (FAILED(link->QueryInterface(__uuidof(IPropertyStore),
                                  store.ReceiveVoid()))) {
    return false;
  }
  ScopedPropVariant value;
  if (wants_app_id) {
    if (FAILED(store->GetValue(kAppUserModelIdKey, value.Receive())))
      return false;
    switch (value.Get().vt) {
      case VT_EMPTY:
        out->set_app_id(std::wstring());
        break;
      case VT_LPWSTR:
        out->set_app_id(value.Get().pwszVal ? value.Get().pwszVal : L"");
        break;
      default:
        return false;
    }
  }
  if (wants_dual_mode) {
    if (FAILED(store->GetValue(kAppUserModelIsDualModeKey, value.Receive())))
      return false;
    switch (value.Get().vt) {
      case VT_EMPTY:
        out->set_dual_mode(false);
        break;
      case VT_BOOL:
        out->set_dual_mode(value.Get().boolVal != VARIANT_FALSE);
        break;
      default:
        return false;
    }
  }
  return true;
}

}  // namespace

ShortcutProperties::ShortcutProperties() = default;
ShortcutProperties::~ShortcutProperties() = default;

void ShortcutProperties::set_target(const FilePath& value) {
  target = value;
  options |= kTarget;
}

void ShortcutProperties::set_working_directory(const FilePath& value) {
  working_directory = value;
  options |= kWorkingDirectory;
}

void ShortcutProperties::set_arguments(const std::wstring& value) {
  arguments = value;
  options |= kArguments;
}

void ShortcutProperties::set_description(const std::wstring& value) {
  description = value;
  options |= kDescription;
}

void ShortcutProperties::set_icon(const FilePath& file, int32_t index) {
  icon = file;
  icon_index = index;
  options |= kIcon;
}

void ShortcutProperties::set_app_id(const std::wstring& value) {
  app_id = value;
  options |= kAppId;
}

void ShortcutProperties::set_dual_mode(bool value) {
  dual_mode = value;
  options |= kDualMode;
}

bool CreateOrUpdateShortcut(const FilePath& shortcut,
                            const ShortcutProperties& properties,
                            int operation) {
  if (operation != kShortcutCreateAlways &&
      operation != kShortcutReplaceExisting &&
      operation != kShortcutUpdateExisting) {
    return false;
  }
  if (operation != kShortcutUpdateExisting &&
      !HasOption(properties.options, ShortcutProperties::kTarget)) {
    return false;
  }
  const bool existed =
      ::GetFileAttributesW(shortcut.value().c_str()) != INVALID_FILE_ATTRIBUTES;

  ShellLink old_link;
  ShellLink link;
  bool ready = false;
  switch (operation) {
    case kShortcutCreateAlways:
      ready = link.Create();
      break;
    case kShortcutReplaceExisting:
      ready = old_link.Load(shortcut, STGM_READWRITE) && link.Create();
      break;
    case kShortcutUpdateExisting:
      ready = link.Load(shortcut, STGM_READWRITE);
      break;
  }
  if (!ready ||
      !ApplyShellLinkFields(properties, link.link.Get(), old_link.link.Get()) ||
      !ApplyAppUserModelFields(properties, link.link.Get())) {
    return false;
  }

  // The old link must let go of the file before it is overwritten.
  old_link.Reset();
  const bool saved = SUCCEEDED(link.file->Save(shortcut.value().c_str(), TRUE));
  link.Reset();
  if (!saved)
    return false;
  if (existed) {
    ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  } else {
    ::SHChangeNotify(SHCNE_CREATE, SHCNF_PATHW, shortcut.value().c_str(),
                     nullptr);
  }
  return true;
}

bool ResolveShortcutProperties(const FilePath& shortcut,
                               uint32_t options,
                               ShortcutProperties* out) {
  ShellLink link;
  if (!link.Load(shortcut, STGM_READ))
    return false;
  out->options = 0;
  return ReadShellLinkFields(link.link.Get(), options, out) &&
         ReadAppUserModelFields(link.link.Get(), options, out);
}

bool ResolveShortcut(const FilePath& shortcut, FilePath* target) {
  ShortcutProperties properties;
  const uint32_t options =
      target ? static_cast<uint32_t>(ShortcutProperties::kTarget) : 0u;
  if (!ResolveShortcutProperties(shortcut, options, &properties))
    return false;
  if (target)
    *target = properties.target;
  return true;
}

bool UnpinShortcutFromTaskbar(const FilePath& shortcut) {
  if (!IsWindows7OrLater())
    return false;
  const HINSTANCE result =
      ::ShellExecuteW(nullptr, L"taskbarunpin", shortcut.value().c_str(),
                      nullptr, nullptr, SW_HIDE);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace base::win
