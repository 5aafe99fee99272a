#include "desktop/windows/installer/test/fake_task_service.h"

#include <oleauto.h>

#include <algorithm>
#include <utility>

#include "base/strings/utf_string_conversions.h"

namespace installer::test {

namespace {

using base::win::ComPtr;

// Methods the schedulers never call.
#define FAKE_UNUSED(method, ...) \
  HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override { return E_NOTIMPL; }

// Write-only properties: each write is journalled.
#define FAKE_TEXT_PROPERTY(name)                                  \
  FAKE_UNUSED(get_##name, BSTR*)                                  \
  HRESULT STDMETHODCALLTYPE put_##name(BSTR value) override {     \
    return Record(#name, value ? value : L"");                    \
  }
#define FAKE_BOOL_PROPERTY(name)                                      \
  FAKE_UNUSED(get_##name, VARIANT_BOOL*)                              \
  HRESULT STDMETHODCALLTYPE put_##name(VARIANT_BOOL value) override { \
    return Record(#name, value ? L"true" : L"false");                 \
  }
#define FAKE_NUMBER_PROPERTY(name, type)                         \
  FAKE_UNUSED(get_##name, type*)                                 \
  HRESULT STDMETHODCALLTYPE put_##name(type value) override {    \
    return Record(#name, std::to_wstring(static_cast<long>(value))); \
  }
#define FAKE_UNUSED_PROPERTY(name, type) \
  FAKE_UNUSED(get_##name, type*)         \
  FAKE_UNUSED(put_##name, type)

template <class Object>
HRESULT HandOut(Object* object, Object** out) {
  if (!out)
    return E_POINTER;
  *out = object;
  if (object)
    object->AddRef();
  return object ? S_OK : E_FAIL;
}

std::wstring CopyText(BSTR text) {
  return text ? std::wstring(text, ::SysStringLen(text)) : std::wstring();
}

HRESULT ReturnText(const std::wstring& text, BSTR* out) {
  *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

// A VT_BSTR as its text, anything else by its type.
std::wstring VariantText(const VARIANT& value) {
  if (V_VT(&value) == VT_BSTR)
    return CopyText(V_BSTR(&value));
  if (V_VT(&value) == VT_EMPTY)
    return L"(empty)";
  return L"(type " + std::to_wstring(V_VT(&value)) + L")";
}

// Reference counting, IDispatch refused, and QueryInterface for the
// interface, its base and IUnknown.
template <class Interface, class Base = IDispatch>
class FakeObject : public Interface {
 public:
  FakeObject(std::shared_ptr<Journal> journal, std::wstring prefix)
      : journal_(std::move(journal)), prefix_(std::move(prefix)) {}

  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --references_;
    if (left == 0)
      delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid,
                                           void** object) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch ||
        iid == __uuidof(Base) || iid == __uuidof(Interface)) {
      return HandOut(static_cast<Interface*>(this),
                     reinterpret_cast<Interface**>(object));
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  FAKE_UNUSED(GetTypeInfoCount, UINT*)
  FAKE_UNUSED(GetTypeInfo, UINT, LCID, ITypeInfo**)
  FAKE_UNUSED(GetIDsOfNames, REFIID, LPOLESTR*, UINT, LCID, DISPID*)
  FAKE_UNUSED(Invoke, DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,
              EXCEPINFO*, UINT*)

 protected:
  virtual ~FakeObject() = default;

  HRESULT Record(const char* property, const std::wstring& value) {
    journal_->push_back(prefix_ + base::AsciiToWide(property) + L"=" + value);
    return S_OK;
  }
  const std::shared_ptr<Journal>& journal() const { return journal_; }

 private:
  std::shared_ptr<Journal> journal_;
  std::wstring prefix_;
  ULONG references_ = 1;
};

// Made with one reference, which the ComPtr takes over.
template <class Fake, class... Arguments>
ComPtr<Fake> MakeFake(Arguments&&... arguments) {
  ComPtr<Fake> fake;
  fake.Attach(new Fake(std::forward<Arguments>(arguments)...));
  return fake;
}

class FakeRegistrationInfo : public FakeObject<IRegistrationInfo> {
 public:
  using FakeObject::FakeObject;
  FAKE_TEXT_PROPERTY(Description)
  FAKE_TEXT_PROPERTY(Author)
  FAKE_TEXT_PROPERTY(Version)
  FAKE_TEXT_PROPERTY(Date)
  FAKE_TEXT_PROPERTY(Documentation)
  FAKE_TEXT_PROPERTY(XmlText)
  FAKE_TEXT_PROPERTY(URI)
  FAKE_UNUSED_PROPERTY(SecurityDescriptor, VARIANT)
  FAKE_TEXT_PROPERTY(Source)
};

class FakeTaskSettings : public FakeObject<ITaskSettings> {
 public:
  using FakeObject::FakeObject;
  FAKE_BOOL_PROPERTY(AllowDemandStart)
  FAKE_TEXT_PROPERTY(RestartInterval)
  FAKE_NUMBER_PROPERTY(RestartCount, INT)
  FAKE_NUMBER_PROPERTY(MultipleInstances, TASK_INSTANCES_POLICY)
  FAKE_BOOL_PROPERTY(StopIfGoingOnBatteries)
  FAKE_BOOL_PROPERTY(DisallowStartIfOnBatteries)
  FAKE_BOOL_PROPERTY(AllowHardTerminate)
  FAKE_BOOL_PROPERTY(StartWhenAvailable)
  FAKE_TEXT_PROPERTY(XmlText)
  FAKE_BOOL_PROPERTY(RunOnlyIfNetworkAvailable)
  FAKE_TEXT_PROPERTY(ExecutionTimeLimit)
  FAKE_BOOL_PROPERTY(Enabled)
  FAKE_TEXT_PROPERTY(DeleteExpiredTaskAfter)
  FAKE_NUMBER_PROPERTY(Priority, INT)
  FAKE_NUMBER_PROPERTY(Compatibility, TASK_COMPATIBILITY)
  FAKE_BOOL_PROPERTY(Hidden)
  FAKE_UNUSED_PROPERTY(IdleSettings, IIdleSettings*)
  FAKE_BOOL_PROPERTY(RunOnlyIfIdle)
  FAKE_BOOL_PROPERTY(WakeToRun)
  FAKE_UNUSED_PROPERTY(NetworkSettings, INetworkSettings*)
};

class FakePrincipal : public FakeObject<IPrincipal> {
 public:
  using FakeObject::FakeObject;
  FAKE_TEXT_PROPERTY(Id)
  FAKE_TEXT_PROPERTY(DisplayName)
  FAKE_TEXT_PROPERTY(UserId)
  FAKE_NUMBER_PROPERTY(LogonType, TASK_LOGON_TYPE)
  FAKE_TEXT_PROPERTY(GroupId)
  FAKE_NUMBER_PROPERTY(RunLevel, TASK_RUNLEVEL_TYPE)
};

// The trigger kinds share ITrigger; each adds its own properties below.
template <class Interface>
class FakeTrigger : public FakeObject<Interface, ITrigger> {
 public:
  FakeTrigger(std::shared_ptr<Journal> journal,
              std::wstring prefix,
              TASK_TRIGGER_TYPE2 type)
      : FakeObject<Interface, ITrigger>(std::move(journal), std::move(prefix)),
        type_(type) {}

  HRESULT STDMETHODCALLTYPE get_Type(TASK_TRIGGER_TYPE2* type) override {
    *type = type_;
    return S_OK;
  }
  FAKE_TEXT_PROPERTY(Id)
  FAKE_UNUSED_PROPERTY(Repetition, IRepetitionPattern*)
  FAKE_TEXT_PROPERTY(ExecutionTimeLimit)
  FAKE_TEXT_PROPERTY(StartBoundary)
  FAKE_TEXT_PROPERTY(EndBoundary)
  FAKE_BOOL_PROPERTY(Enabled)

 protected:
  using FakeObject<Interface, ITrigger>::Record;

 private:
  TASK_TRIGGER_TYPE2 type_;
};

class FakeDailyTrigger : public FakeTrigger<IDailyTrigger> {
 public:
  FakeDailyTrigger(std::shared_ptr<Journal> journal, std::wstring prefix)
      : FakeTrigger(std::move(journal),
                    std::move(prefix),
                    TASK_TRIGGER_DAILY) {}
  HRESULT STDMETHODCALLTYPE get_DaysInterval(short* days) override {
    *days = days_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_DaysInterval(short days) override {
    days_ = days;
    return Record("DaysInterval", std::to_wstring(days));
  }
  FAKE_TEXT_PROPERTY(RandomDelay)

 private:
  short days_ = 1;
};

class FakeLogonTrigger : public FakeTrigger<ILogonTrigger> {
 public:
  FakeLogonTrigger(std::shared_ptr<Journal> journal, std::wstring prefix)
      : FakeTrigger(std::move(journal),
                    std::move(prefix),
                    TASK_TRIGGER_LOGON) {}
  FAKE_TEXT_PROPERTY(Delay)
  FAKE_TEXT_PROPERTY(UserId)
};

class FakeBootTrigger : public FakeTrigger<IBootTrigger> {
 public:
  FakeBootTrigger(std::shared_ptr<Journal> journal, std::wstring prefix)
      : FakeTrigger(std::move(journal), std::move(prefix), TASK_TRIGGER_BOOT) {}
  FAKE_TEXT_PROPERTY(Delay)
};

class FakeRegistrationTrigger : public FakeTrigger<IRegistrationTrigger> {
 public:
  FakeRegistrationTrigger(std::shared_ptr<Journal> journal,
                          std::wstring prefix)
      : FakeTrigger(std::move(journal),
                    std::move(prefix),
                    TASK_TRIGGER_REGISTRATION) {}
  FAKE_TEXT_PROPERTY(Delay)
};

class FakeTriggerCollection : public FakeObject<ITriggerCollection> {
 public:
  using FakeObject::FakeObject;
  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
    *count = static_cast<LONG>(triggers_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Item(LONG index, ITrigger** trigger) override {
    if (index < 1 || index > static_cast<LONG>(triggers_.size()))
      return E_INVALIDARG;
    return HandOut(triggers_[index - 1].Get(), trigger);
  }
  FAKE_UNUSED(get__NewEnum, IUnknown**)
  HRESULT STDMETHODCALLTYPE Create(TASK_TRIGGER_TYPE2 type,
                                   ITrigger** trigger) override {
    std::wstring prefix =
        L"Trigger" + std::to_wstring(triggers_.size() + 1) + L".";
    journal()->push_back(prefix + L"Type=" + std::to_wstring(type));
    ComPtr<ITrigger> created;
    switch (type) {
      case TASK_TRIGGER_DAILY:
        created.Attach(MakeFake<FakeDailyTrigger>(journal(), prefix).Detach());
        break;
      case TASK_TRIGGER_LOGON:
        created.Attach(MakeFake<FakeLogonTrigger>(journal(), prefix).Detach());
        break;
      case TASK_TRIGGER_BOOT:
        created.Attach(MakeFake<FakeBootTrigger>(journal(), prefix).Detach());
        break;
      case TASK_TRIGGER_REGISTRATION:
        created.Attach(
            MakeFake<FakeRegistrationTrigger>(journal(), prefix).Detach());
        break;
      default:
        return E_NOTIMPL;
    }
    triggers_.push_back(std::move(created));
    return HandOut(triggers_.back().Get(), trigger);
  }
  FAKE_UNUSED(Remove, VARIANT)
  FAKE_UNUSED(Clear)

 private:
  std::vector<ComPtr<ITrigger>> triggers_;
};

class FakeExecAction : public FakeObject<IExecAction, IAction> {
 public:
  using FakeObject::FakeObject;
  FAKE_TEXT_PROPERTY(Id)
  HRESULT STDMETHODCALLTYPE get_Type(TASK_ACTION_TYPE* type) override {
    *type = TASK_ACTION_EXEC;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Path(BSTR* path) override {
    return ReturnText(path_, path);
  }
  HRESULT STDMETHODCALLTYPE put_Path(BSTR path) override {
    path_ = CopyText(path);
    return Record("Path", path_);
  }
  FAKE_TEXT_PROPERTY(Arguments)
  FAKE_TEXT_PROPERTY(WorkingDirectory)

 private:
  std::wstring path_;
};

class FakeActionCollection : public FakeObject<IActionCollection> {
 public:
  using FakeObject::FakeObject;
  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
    *count = static_cast<LONG>(actions_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Item(LONG index, IAction** action) override {
    if (index < 1 || index > static_cast<LONG>(actions_.size()))
      return E_INVALIDARG;
    return HandOut(actions_[index - 1].Get(), action);
  }
  FAKE_UNUSED(get__NewEnum, IUnknown**)
  FAKE_TEXT_PROPERTY(XmlText)
  HRESULT STDMETHODCALLTYPE Create(TASK_ACTION_TYPE type,
                                   IAction** action) override {
    if (type != TASK_ACTION_EXEC)
      return E_NOTIMPL;
    std::wstring prefix =
        L"Action" + std::to_wstring(actions_.size() + 1) + L".";
    ComPtr<IAction> created;
    created.Attach(MakeFake<FakeExecAction>(journal(), prefix).Detach());
    actions_.push_back(std::move(created));
    return HandOut(actions_.back().Get(), action);
  }
  FAKE_UNUSED(Remove, VARIANT)
  FAKE_UNUSED(Clear)
  FAKE_TEXT_PROPERTY(Context)

 private:
  std::vector<ComPtr<IAction>> actions_;
};

class FakeTaskDefinition : public FakeObject<ITaskDefinition> {
 public:
  explicit FakeTaskDefinition(std::shared_ptr<Journal> journal)
      : FakeObject(journal, L"Definition."),
        registration_info_(
            MakeFake<FakeRegistrationInfo>(journal, L"RegistrationInfo.")),
        settings_(MakeFake<FakeTaskSettings>(journal, L"Settings.")),
        triggers_(MakeFake<FakeTriggerCollection>(journal, L"Triggers.")),
        principal_(MakeFake<FakePrincipal>(journal, L"Principal.")),
        actions_(MakeFake<FakeActionCollection>(journal, L"Actions.")) {}

  HRESULT STDMETHODCALLTYPE get_RegistrationInfo(
      IRegistrationInfo** info) override {
    return HandOut<IRegistrationInfo>(registration_info_.Get(), info);
  }
  FAKE_UNUSED(put_RegistrationInfo, IRegistrationInfo*)
  HRESULT STDMETHODCALLTYPE get_Triggers(
      ITriggerCollection** triggers) override {
    return HandOut<ITriggerCollection>(triggers_.Get(), triggers);
  }
  FAKE_UNUSED(put_Triggers, ITriggerCollection*)
  HRESULT STDMETHODCALLTYPE get_Settings(ITaskSettings** settings) override {
    return HandOut<ITaskSettings>(settings_.Get(), settings);
  }
  FAKE_UNUSED(put_Settings, ITaskSettings*)
  FAKE_TEXT_PROPERTY(Data)
  HRESULT STDMETHODCALLTYPE get_Principal(IPrincipal** principal) override {
    return HandOut<IPrincipal>(principal_.Get(), principal);
  }
  FAKE_UNUSED(put_Principal, IPrincipal*)
  HRESULT STDMETHODCALLTYPE get_Actions(IActionCollection** actions) override {
    return HandOut<IActionCollection>(actions_.Get(), actions);
  }
  FAKE_UNUSED(put_Actions, IActionCollection*)
  FAKE_TEXT_PROPERTY(XmlText)

 private:
  ComPtr<FakeRegistrationInfo> registration_info_;
  ComPtr<FakeTaskSettings> settings_;
  ComPtr<FakeTriggerCollection> triggers_;
  ComPtr<FakePrincipal> principal_;
  ComPtr<FakeActionCollection> actions_;
};

// Joined with blanks; "(none)" for no parameters.
std::wstring RunParametersText(const VARIANT& parameters) {
  if (V_VT(&parameters) == VT_EMPTY)
    return L"(none)";
  if (V_VT(&parameters) != (VT_ARRAY | VT_BSTR))
    return VariantText(parameters);
  SAFEARRAY* array = V_ARRAY(&parameters);
  LONG lower = 0;
  LONG upper = -1;
  ::SafeArrayGetLBound(array, 1, &lower);
  ::SafeArrayGetUBound(array, 1, &upper);
  std::wstring text;
  for (LONG index = lower; index <= upper; ++index) {
    BSTR element = nullptr;
    ::SafeArrayGetElement(array, &index, &element);
    text += (index == lower ? L"" : L" ") + CopyText(element);
    ::SysFreeString(element);
  }
  return text;
}

class FakeRegisteredTask : public FakeObject<IRegisteredTask> {
 public:
  FakeRegisteredTask(std::shared_ptr<Journal> journal,
                     std::wstring name,
                     ComPtr<ITaskDefinition> definition)
      : FakeObject(std::move(journal), L"Task."),
        name_(std::move(name)),
        definition_(std::move(definition)) {}

  const std::wstring& name() const { return name_; }
  void set_state(TASK_STATE state) { state_ = state; }
  void set_last_run(HRESULT result, DATE date) {
    last_run_result_ = result;
    last_run_date_ = date;
  }
  void set_security_descriptor_result(HRESULT result) {
    security_descriptor_result_ = result;
  }

  HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override {
    return ReturnText(name_, name);
  }
  HRESULT STDMETHODCALLTYPE get_Path(BSTR* path) override {
    return ReturnText(L"\\" + name_, path);
  }
  HRESULT STDMETHODCALLTYPE get_State(TASK_STATE* state) override {
    *state = state_;
    return S_OK;
  }
  FAKE_BOOL_PROPERTY(Enabled)
  HRESULT STDMETHODCALLTYPE Run(VARIANT parameters,
                                IRunningTask** task) override {
    *task = nullptr;
    return Record("Run", RunParametersText(parameters));
  }
  FAKE_UNUSED(RunEx, VARIANT, LONG, LONG, BSTR, IRunningTask**)
  FAKE_UNUSED(GetInstances, LONG, IRunningTaskCollection**)
  HRESULT STDMETHODCALLTYPE get_LastRunTime(DATE* date) override {
    *date = last_run_date_;
    return last_run_result_;
  }
  FAKE_UNUSED(get_LastTaskResult, LONG*)
  FAKE_UNUSED(get_NumberOfMissedRuns, LONG*)
  FAKE_UNUSED(get_NextRunTime, DATE*)
  HRESULT STDMETHODCALLTYPE get_Definition(ITaskDefinition** task) override {
    return HandOut(definition_.Get(), task);
  }
  FAKE_UNUSED(get_Xml, BSTR*)
  FAKE_UNUSED(GetSecurityDescriptor, LONG, BSTR*)
  HRESULT STDMETHODCALLTYPE SetSecurityDescriptor(BSTR sddl,
                                                  LONG flags) override {
    Record("SecurityDescriptor", CopyText(sddl));
    return security_descriptor_result_;
  }
  FAKE_UNUSED(Stop, LONG)
  FAKE_UNUSED(GetRunTimes, const LPSYSTEMTIME, const LPSYSTEMTIME, DWORD*,
              LPSYSTEMTIME*)

 private:
  std::wstring name_;
  ComPtr<ITaskDefinition> definition_;
  TASK_STATE state_ = TASK_STATE_READY;
  HRESULT last_run_result_ = SCHED_S_TASK_HAS_NOT_RUN;
  DATE last_run_date_ = 0;
  HRESULT security_descriptor_result_ = S_OK;
};

class FakeRegisteredTaskCollection
    : public FakeObject<IRegisteredTaskCollection> {
 public:
  FakeRegisteredTaskCollection(std::shared_ptr<Journal> journal,
                               std::vector<ComPtr<IRegisteredTask>> tasks)
      : FakeObject(std::move(journal), L"Tasks."), tasks_(std::move(tasks)) {}

  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
    *count = static_cast<LONG>(tasks_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Item(VARIANT index,
                                     IRegisteredTask** task) override {
    if (V_VT(&index) != VT_I4 || V_I4(&index) < 1 ||
        V_I4(&index) > static_cast<LONG>(tasks_.size())) {
      return E_INVALIDARG;
    }
    return HandOut(tasks_[V_I4(&index) - 1].Get(), task);
  }
  FAKE_UNUSED(get__NewEnum, IUnknown**)

 private:
  std::vector<ComPtr<IRegisteredTask>> tasks_;
};

}  // namespace

class FakeTaskFolder : public FakeObject<ITaskFolder> {
 public:
  explicit FakeTaskFolder(std::shared_ptr<Journal> journal)
      : FakeObject(std::move(journal), L"Folder.") {}

  FakeRegisteredTask* Find(const std::wstring& name) const {
    for (const ComPtr<FakeRegisteredTask>& task : tasks_) {
      if (task->name() == name)
        return task.Get();
    }
    return nullptr;
  }
  FakeRegisteredTask* Add(const std::wstring& name,
                          ComPtr<ITaskDefinition> definition) {
    Remove(name);
    tasks_.push_back(
        MakeFake<FakeRegisteredTask>(journal(), name, std::move(definition)));
    return tasks_.back().Get();
  }
  std::vector<std::wstring> Names() const {
    std::vector<std::wstring> names;
    for (const ComPtr<FakeRegisteredTask>& task : tasks_)
      names.push_back(task->name());
    return names;
  }
  void set_register_result(HRESULT result) { register_result_ = result; }
  void set_security_descriptor_result(HRESULT result) {
    security_descriptor_result_ = result;
  }

  FAKE_UNUSED(get_Name, BSTR*)
  FAKE_UNUSED(get_Path, BSTR*)
  FAKE_UNUSED(GetFolder, BSTR, ITaskFolder**)
  FAKE_UNUSED(GetFolders, LONG, ITaskFolderCollection**)
  FAKE_UNUSED(CreateFolder, BSTR, VARIANT, ITaskFolder**)
  FAKE_UNUSED(DeleteFolder, BSTR, LONG)
  HRESULT STDMETHODCALLTYPE GetTask(BSTR path,
                                    IRegisteredTask** task) override {
    FakeRegisteredTask* found = Find(CopyText(path));
    if (!found)
      return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    return HandOut<IRegisteredTask>(found, task);
  }
  HRESULT STDMETHODCALLTYPE
  GetTasks(LONG flags, IRegisteredTaskCollection** tasks) override {
    std::vector<ComPtr<IRegisteredTask>> snapshot;
    for (const ComPtr<FakeRegisteredTask>& task : tasks_) {
      task->AddRef();
      snapshot.emplace_back().Attach(task.Get());
    }
    *tasks = MakeFake<FakeRegisteredTaskCollection>(journal(),
                                                    std::move(snapshot))
                 .Detach();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DeleteTask(BSTR name, LONG flags) override {
    Record("DeleteTask", CopyText(name));
    return Remove(CopyText(name)) ? S_OK
                                  : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  FAKE_UNUSED(RegisterTask, BSTR, BSTR, LONG, VARIANT, VARIANT,
              TASK_LOGON_TYPE, VARIANT, IRegisteredTask**)
  HRESULT STDMETHODCALLTYPE RegisterTaskDefinition(
      BSTR path,
      ITaskDefinition* definition,
      LONG flags,
      VARIANT user,
      VARIANT password,
      TASK_LOGON_TYPE logon,
      VARIANT sddl,
      IRegisteredTask** task) override {
    Record("Register", CopyText(path) + L" flags=" + std::to_wstring(flags) +
                           L" user=" + VariantText(user) + L" password=" +
                           VariantText(password) + L" logon=" +
                           std::to_wstring(logon) + L" sddl=" +
                           VariantText(sddl));
    if (FAILED(register_result_))
      return register_result_;
    definition->AddRef();
    ComPtr<ITaskDefinition> kept;
    kept.Attach(definition);
    FakeRegisteredTask* registered = Add(CopyText(path), std::move(kept));
    registered->set_security_descriptor_result(security_descriptor_result_);
    return HandOut<IRegisteredTask>(registered, task);
  }
  FAKE_UNUSED(GetSecurityDescriptor, LONG, BSTR*)
  FAKE_UNUSED(SetSecurityDescriptor, BSTR, LONG)

 private:
  bool Remove(const std::wstring& name) {
    auto found = std::find_if(tasks_.begin(), tasks_.end(),
                              [&](const ComPtr<FakeRegisteredTask>& task) {
                                return task->name() == name;
                              });
    if (found == tasks_.end())
      return false;
    tasks_.erase(found);
    return true;
  }

  std::vector<ComPtr<FakeRegisteredTask>> tasks_;
  HRESULT register_result_ = S_OK;
  HRESULT security_descriptor_result_ = S_OK;
};

namespace {

class FakeService : public FakeObject<ITaskService> {
 public:
  FakeService(std::shared_ptr<Journal> journal, ComPtr<FakeTaskFolder> root)
      : FakeObject(std::move(journal), L"Service."), root_(std::move(root)) {}

  HRESULT STDMETHODCALLTYPE GetFolder(BSTR path,
                                      ITaskFolder** folder) override {
    Record("GetFolder", CopyText(path));
    if (CopyText(path) != L"\\")
      return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    return HandOut<ITaskFolder>(root_.Get(), folder);
  }
  FAKE_UNUSED(GetRunningTasks, LONG, IRunningTaskCollection**)
  HRESULT STDMETHODCALLTYPE NewTask(DWORD flags,
                                    ITaskDefinition** definition) override {
    *definition = MakeFake<FakeTaskDefinition>(journal()).Detach();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Connect(VARIANT server,
                                    VARIANT user,
                                    VARIANT domain,
                                    VARIANT password) override {
    return Record("Connect", VariantText(server) + L" " + VariantText(user) +
                                 L" " + VariantText(domain) + L" " +
                                 VariantText(password));
  }
  FAKE_UNUSED(get_Connected, VARIANT_BOOL*)
  FAKE_UNUSED(get_TargetServer, BSTR*)
  FAKE_UNUSED(get_ConnectedUser, BSTR*)
  FAKE_UNUSED(get_ConnectedDomain, BSTR*)
  FAKE_UNUSED(get_HighestVersion, DWORD*)

 private:
  ComPtr<FakeTaskFolder> root_;
};

}  // namespace

FakeTaskService::FakeTaskService() : journal_(std::make_shared<Journal>()) {
  ComPtr<FakeTaskFolder> root = MakeFake<FakeTaskFolder>(journal_);
  root_folder_ = root.Get();
  service_.Attach(MakeFake<FakeService>(journal_, std::move(root)).Detach());
}

FakeTaskService::~FakeTaskService() = default;

ComPtr<ITaskService> FakeTaskService::NewServiceReference() {
  service_->AddRef();
  ComPtr<ITaskService> reference;
  reference.Attach(service_.Get());
  return reference;
}

void FakeTaskService::AddTask(const std::wstring& name,
                              const std::vector<std::wstring>& programs) {
  auto definition = MakeFake<FakeTaskDefinition>(std::make_shared<Journal>());
  ComPtr<IActionCollection> actions;
  definition->get_Actions(actions.Receive());
  for (const std::wstring& program : programs) {
    ComPtr<IAction> action;
    ComPtr<IExecAction> exec;
    actions->Create(TASK_ACTION_EXEC, action.Receive());
    action.QueryInterface(&exec);
    BSTR path = ::SysAllocString(program.c_str());
    exec->put_Path(path);
    ::SysFreeString(path);
  }
  ComPtr<ITaskDefinition> kept;
  kept.Attach(definition.Detach());
  root_folder_->Add(name, std::move(kept));
}

bool FakeTaskService::HasTask(const std::wstring& name) const {
  return root_folder_->Find(name) != nullptr;
}

std::vector<std::wstring> FakeTaskService::TaskNames() const {
  return root_folder_->Names();
}

void FakeTaskService::SetTaskState(const std::wstring& name,
                                   TASK_STATE state) {
  if (FakeRegisteredTask* task = root_folder_->Find(name))
    task->set_state(state);
}

void FakeTaskService::SetLastRun(const std::wstring& name,
                                 HRESULT result,
                                 DATE date) {
  if (FakeRegisteredTask* task = root_folder_->Find(name))
    task->set_last_run(result, date);
}

void FakeTaskService::SetRegisterResult(HRESULT result) {
  root_folder_->set_register_result(result);
}

void FakeTaskService::SetSecurityDescriptorResult(HRESULT result) {
  root_folder_->set_security_descriptor_result(result);
}

}  // namespace installer::test
