#ifndef BASE_WIN_WMI_H_
#define BASE_WIN_WMI_H_

#include <windows.h>

#include <wbemidl.h>

#include <string>

#include "base/win/com_ptr.h"

namespace base::win {

// COM must be initialised on the calling thread for all of these. Every
// failure gives false; the out-parameters are then left alone.

// Connects to the local "ROOT\CIMV2" namespace, optionally setting the
// proxy blanket that lets calls impersonate the caller.
bool CreateLocalWmiConnection(bool set_blanket,
                              ComPtr<IWbemServices>* services);

// An instance of the in-parameters of `class_name`.`method_name`, ready for
// SetWmiClassMethodParameter.
bool CreateWmiClassMethodObject(IWbemServices* services,
                                const wchar_t* class_name,
                                const wchar_t* method_name,
                                ComPtr<IWbemClassObject>* in_parameters);

bool SetWmiClassMethodParameter(IWbemClassObject* in_parameters,
                                const wchar_t* name,
                                const VARIANT& value);

// Starts `command_line` through Win32_Process.Create, so the new process
// is no child of this one. Its id goes to `process_id` when given.
bool LaunchViaWmi(const std::wstring& command_line, DWORD* process_id);

}  // namespace base::win

#endif  // BASE_WIN_WMI_H_
