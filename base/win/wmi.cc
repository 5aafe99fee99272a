#include "base/win/wmi.h"

#include <utility>

#include "base/win/scoped_bstr.h"
#include "base/win/scoped_variant.h"

namespace base::win {

namespace {

constexpr CLSID kWbemLocatorClass = {
    0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

// Reads an integer property of a method's out-parameters.
bool ReadIntegerProperty(IWbemClassObject* object,
                         const wchar_t* name,
                         LONG* value) {
  ScopedVariant variant;
  if (FAILED(object->Get(name, 0, variant.Receive(), nullptr, nullptr)))
    return false;
  // Win32_Process.Create answers in uint32, which WMI hands over as VT_I4.
  ScopedVariant converted;
  if (FAILED(::VariantChangeType(converted.Receive(),
                                 const_cast<VARIANT*>(&variant.Get()), 0,
                                 VT_I4))) {
    return false;
  }
  *value = V_I4(&converted.Get());
  return true;
}

}  // namespace

bool CreateLocalWmiConnection(bool set_blanket,
                              ComPtr<IWbemServices>* services) {
  ComPtr<IWbemLocator> locator;
  if (FAILED(locator.CreateInstance(kWbemLocatorClass)))
    return false;
  ScopedBstr name_space(L"ROOT\\CIMV2");
  ComPtr<IWbemServices> connected;
  if (FAILED(locator->ConnectServer(name_space.Get(), nullptr, nullptr,
                                    nullptr, 0, nullptr, nullptr,
                                    connected.Receive()))) {
    return false;
  }
  if (set_blanket &&
      FAILED(::CoSetProxyBlanket(connected.Get(), RPC_C_AUTHN_WINNT,
                                 RPC_C_AUTHZ_NONE, nullptr,
                                 RPC_C_AUTHN_LEVEL_CALL,
                                 RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                                 EOAC_NONE))) {
    return false;
  }
  *services = std::move(connected);
  return true;
}

bool CreateWmiClassMethodObject(IWbemServices* services,
                                const wchar_t* class_name,
                                const wchar_t* method_name,
                                ComPtr<IWbemClassObject>* in_parameters) {
  ScopedBstr class_bstr(class_name);
  ComPtr<IWbemClassObject> class_object;
  if (FAILED(services->GetObject(class_bstr.Get(), 0, nullptr,
                                 class_object.Receive(), nullptr))) {
    return false;
  }
  ComPtr<IWbemClassObject> parameters_class;
  if (FAILED(class_object->GetMethod(method_name, 0,
                                     parameters_class.Receive(), nullptr)) ||
      !parameters_class) {
    return false;
  }
  ComPtr<IWbemClassObject> instance;
  if (FAILED(parameters_class->SpawnInstance(0, instance.Receive())))
    return false;
  *in_parameters = std::move(instance);
  return true;
}

bool SetWmiClassMethodParameter(IWbemClassObject* in_parameters,
                                const wchar_t* name,
                                const VARIANT& value) {
  // Put only reads the value; its parameter merely lacks the const.
  return SUCCEEDED(
      in_parameters->Put(name, 0, const_cast<VARIANT*>(&value), 0));
}

bool LaunchViaWmi(const std::wstring& command_line, DWORD* process_id) {
  constexpr wchar_t kClassName[] = L"Win32_Process";
  constexpr wchar_t kMethodName[] = L"Create";
  ComPtr<IWbemServices> services;
  if (!CreateLocalWmiConnection(true, &services))
    return false;
  ComPtr<IWbemClassObject> in_parameters;
  if (!CreateWmiClassMethodObject(services.Get(), kClassName, kMethodName,
                                  &in_parameters)) {
    return false;
  }
  ScopedVariant command_line_value(command_line.c_str());
  if (!SetWmiClassMethodParameter(in_parameters.Get(), L"CommandLine",
                                  command_line_value.Get())) {
    return false;
  }
  ScopedBstr class_bstr(kClassName);
  ScopedBstr method_bstr(kMethodName);
  ComPtr<IWbemClassObject> out_parameters;
  if (FAILED(services->ExecMethod(class_bstr.Get(), method_bstr.Get(), 0,
                                  nullptr, in_parameters.Get(),
                                  out_parameters.Receive(), nullptr)) ||
      !out_parameters) {
    return false;
  }
  LONG return_value = -1;
  if (!ReadIntegerProperty(out_parameters.Get(), L"ReturnValue",
                           &return_value) ||
      return_value != 0) {
    return false;
  }
  LONG launched_id = 0;
  if (!ReadIntegerProperty(out_parameters.Get(), L"ProcessId",
                           &launched_id) ||
      launched_id == 0) {
    return false;
  }
  if (process_id)
    *process_id = static_cast<DWORD>(launched_id);
  return true;
}

}  // namespace base::win
