#ifndef DESKTOP_WINDOWS_INSTALLER_TASKS_TASK_SCHEDULER_INTERFACES_H_
#define DESKTOP_WINDOWS_INSTALLER_TASKS_TASK_SCHEDULER_INTERFACES_H_

#include <windows.h>
#include <mstask.h>
#include <taskschd.h>

// What mingw's Task Scheduler headers leave out, stated with the published
// layouts and identifiers: the three trigger kinds of Task Scheduler 2.0
// that it does not declare, and __uuidof for the 1.0 interfaces.

#ifndef __ILogonTrigger_INTERFACE_DEFINED__
#define __ILogonTrigger_INTERFACE_DEFINED__
MIDL_INTERFACE("72dade38-fae4-4b3e-baf4-5d009af02b1c")
ILogonTrigger : public ITrigger {
  virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_UserId(BSTR* user) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_UserId(BSTR user) = 0;
};
__CRT_UUID_DECL(ILogonTrigger,
                0x72dade38, 0xfae4, 0x4b3e,
                0xba, 0xf4, 0x5d, 0x00, 0x9a, 0xf0, 0x2b, 0x1c)
#endif

#ifndef __IBootTrigger_INTERFACE_DEFINED__
#define __IBootTrigger_INTERFACE_DEFINED__
MIDL_INTERFACE("2a9c35da-d357-41f4-bbc1-207ac1b1f3cb")
IBootTrigger : public ITrigger {
  virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
};
__CRT_UUID_DECL(IBootTrigger,
                0x2a9c35da, 0xd357, 0x41f4,
                0xbb, 0xc1, 0x20, 0x7a, 0xc1, 0xb1, 0xf3, 0xcb)
#endif

#ifndef __IRegistrationTrigger_INTERFACE_DEFINED__
#define __IRegistrationTrigger_INTERFACE_DEFINED__
MIDL_INTERFACE("4c8fec3a-c218-4e0c-b23d-629024db91a2")
IRegistrationTrigger : public ITrigger {
  virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
};
__CRT_UUID_DECL(IRegistrationTrigger,
                0x4c8fec3a, 0xc218, 0x4e0c,
                0xb2, 0x3d, 0x62, 0x90, 0x24, 0xdb, 0x91, 0xa2)
#endif

__CRT_UUID_DECL(ITaskScheduler,
                0x148bd527, 0xa2ab, 0x11ce,
                0xb1, 0x1f, 0x00, 0xaa, 0x00, 0x53, 0x05, 0x03)
__CRT_UUID_DECL(ITask,
                0x148bd524, 0xa2ab, 0x11ce,
                0xb1, 0x1f, 0x00, 0xaa, 0x00, 0x53, 0x05, 0x03)
__CRT_UUID_DECL(ITaskTrigger,
                0x148bd52b, 0xa2ab, 0x11ce,
                0xb1, 0x1f, 0x00, 0xaa, 0x00, 0x53, 0x05, 0x03)
__CRT_UUID_DECL(IEnumWorkItems,
                0x148bd528, 0xa2ab, 0x11ce,
                0xb1, 0x1f, 0x00, 0xaa, 0x00, 0x53, 0x05, 0x03)

namespace installer {

// Task Scheduler 2.0's service class.
inline constexpr CLSID kTaskServiceClsid = {
    0x0f87369f, 0xa4e5, 0x4cfc,
    {0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45, 0x72, 0xdd}};
// Task Scheduler 1.0's scheduler and work-item classes.
inline constexpr CLSID kCTaskSchedulerClsid = {
    0x148bd52a, 0xa2ab, 0x11ce,
    {0xb1, 0x1f, 0x00, 0xaa, 0x00, 0x53, 0x05, 0x03}};
inline constexpr CLSID kCTaskClsid = {
    0x148bd520, 0xa2ab, 0x11ce,
    {0xb1, 0x1f, 0x00, 0xaa, 0x00, 0x53, 0x05, 0x03}};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TASKS_TASK_SCHEDULER_INTERFACES_H_
