#include "desktop/windows/installer/firewall/firewall_manager.h"

#include <windows.h>
#include <netfw.h>
#include <oleauto.h>

#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "base/win/scoped_com_initializer.h"
#include "desktop/windows/installer/firewall/firewall_name_provider.h"
#include "gtest/gtest.h"

// Wine creates the firewall objects, but its profile queries and rule
// enumeration return E_NOTIMPL and its Add keeps nothing. The fakes below
// stand in for the system's NetFwPolicy2 and NetFwRule classes: they are
// registered with COM in this process, so the code under test creates them
// exactly as it creates the real ones.

namespace installer {
namespace {

using base::FilePath;

#define FAKE_NOT_IMPLEMENTED(name, ...)                  \
  HRESULT STDMETHODCALLTYPE name(__VA_ARGS__) override { \
    return E_NOTIMPL;                                    \
  }
// Properties the code under test never touches.
#define FAKE_PROPERTY(name, type) \
  FAKE_NOT_IMPLEMENTED(get_##name, type*) FAKE_NOT_IMPLEMENTED(put_##name, type)
#define FAKE_PROFILE_PROPERTY(name, type)                       \
  FAKE_NOT_IMPLEMENTED(get_##name, NET_FW_PROFILE_TYPE2, type*) \
  FAKE_NOT_IMPLEMENTED(put_##name, NET_FW_PROFILE_TYPE2, type)
// A setter that records its field.
#define FAKE_SETTER(name, member, type)                       \
  HRESULT STDMETHODCALLTYPE put_##name(type value) override { \
    return Store(#name, &member, value);                      \
  }

// Reference counting without self-deletion: the test owns every fake, and
// checks at the end that the code under test released what it took.
template <class Interface>
class FakeUnknown : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid != IID_IUnknown && iid != __uuidof(Interface) &&
        (iid != IID_IDispatch || !std::is_base_of_v<IDispatch, Interface>)) {
      return E_NOINTERFACE;
    }
    *out = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  LONG references() const { return references_; }

 private:
  LONG references_ = 0;
};

template <class Interface>
class FakeDispatch : public FakeUnknown<Interface> {
 public:
  FAKE_NOT_IMPLEMENTED(GetTypeInfoCount, UINT*)
  FAKE_NOT_IMPLEMENTED(GetTypeInfo, UINT, LCID, ITypeInfo**)
  FAKE_NOT_IMPLEMENTED(GetIDsOfNames, REFIID, LPOLESTR*, UINT, LCID, DISPID*)
  FAKE_NOT_IMPLEMENTED(Invoke,
                       DISPID,
                       REFIID,
                       LCID,
                       WORD,
                       DISPPARAMS*,
                       VARIANT*,
                       EXCEPINFO*,
                       UINT*)
};

HRESULT CopyOut(const std::wstring& text, BSTR* out) {
  *out = text.empty() ? nullptr : ::SysAllocString(text.c_str());
  return S_OK;
}

// Records every field as it is set, and the order of the setters.
class FakeRule : public FakeDispatch<INetFwRule> {
 public:
  std::wstring name, description, application, ports, grouping;
  LONG protocol = 0;
  LONG profiles = 0;
  NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_MAX;
  VARIANT_BOOL enabled = VARIANT_FALSE;
  NET_FW_ACTION action = NET_FW_ACTION_MAX;
  std::vector<std::string> fields_set;
  // A setter of this name fails.
  std::string failing_field;

  HRESULT STDMETHODCALLTYPE get_Name(BSTR* out) override {
    return CopyOut(name, out);
  }
  HRESULT STDMETHODCALLTYPE get_ApplicationName(BSTR* out) override {
    return CopyOut(application, out);
  }
  FAKE_SETTER(Name, name, BSTR)
  FAKE_SETTER(Description, description, BSTR)
  FAKE_SETTER(ApplicationName, application, BSTR)
  FAKE_SETTER(Protocol, protocol, LONG)
  FAKE_SETTER(Direction, direction, NET_FW_RULE_DIRECTION)
  FAKE_SETTER(Enabled, enabled, VARIANT_BOOL)
  FAKE_SETTER(LocalPorts, ports, BSTR)
  FAKE_SETTER(Grouping, grouping, BSTR)
  FAKE_SETTER(Profiles, profiles, LONG)
  FAKE_SETTER(Action, action, NET_FW_ACTION)
  FAKE_NOT_IMPLEMENTED(get_Description, BSTR*)
  FAKE_NOT_IMPLEMENTED(get_Protocol, LONG*)
  FAKE_NOT_IMPLEMENTED(get_LocalPorts, BSTR*)
  FAKE_NOT_IMPLEMENTED(get_Direction, NET_FW_RULE_DIRECTION*)
  FAKE_NOT_IMPLEMENTED(get_Enabled, VARIANT_BOOL*)
  FAKE_NOT_IMPLEMENTED(get_Grouping, BSTR*)
  FAKE_NOT_IMPLEMENTED(get_Profiles, LONG*)
  FAKE_NOT_IMPLEMENTED(get_Action, NET_FW_ACTION*)
  FAKE_PROPERTY(ServiceName, BSTR)
  FAKE_PROPERTY(RemotePorts, BSTR)
  FAKE_PROPERTY(LocalAddresses, BSTR)
  FAKE_PROPERTY(RemoteAddresses, BSTR)
  FAKE_PROPERTY(IcmpTypesAndCodes, BSTR)
  FAKE_PROPERTY(Interfaces, VARIANT)
  FAKE_PROPERTY(InterfaceTypes, BSTR)
  FAKE_PROPERTY(EdgeTraversal, VARIANT_BOOL)

 private:
  template <class T>
  HRESULT Store(const char* field, T* slot, T value) {
    if (failing_field == field)
      return E_ACCESSDENIED;
    fields_set.push_back(field);
    *slot = value;
    return S_OK;
  }
  HRESULT Store(const char* field, std::wstring* slot, BSTR value) {
    return Store(
        field, slot,
        value ? std::wstring(value, ::SysStringLen(value)) : std::wstring());
  }
};

class FakeRuleEnumerator : public FakeUnknown<IEnumVARIANT> {
 public:
  explicit FakeRuleEnumerator(std::vector<FakeRule*> rules)
      : rules_(std::move(rules)) {}

  HRESULT STDMETHODCALLTYPE Next(ULONG count,
                                 VARIANT* elements,
                                 ULONG* fetched) override {
    ULONG done = 0;
    for (; done < count && next_ < rules_.size(); ++done, ++next_) {
      V_VT(&elements[done]) = VT_DISPATCH;
      V_DISPATCH(&elements[done]) = rules_[next_];
      rules_[next_]->AddRef();
    }
    if (fetched)
      *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  FAKE_NOT_IMPLEMENTED(Skip, ULONG)
  FAKE_NOT_IMPLEMENTED(Reset)
  FAKE_NOT_IMPLEMENTED(Clone, IEnumVARIANT**)

 private:
  std::vector<FakeRule*> rules_;
  size_t next_ = 0;
};

// The policy, with profiles set by the test, and its rule collection.
class FakePolicy : public FakeDispatch<INetFwPolicy2> {
 public:
  explicit FakePolicy(INetFwRules* rules) : rules_(rules) {}

  LONG current_profiles = NET_FW_PROFILE2_PUBLIC;
  HRESULT current_profiles_result = S_OK;
  LONG enabled_profiles = NET_FW_PROFILE2_PUBLIC;
  // Their state cannot be read.
  LONG failing_profiles = 0;

  HRESULT STDMETHODCALLTYPE get_CurrentProfileTypes(LONG* out) override {
    *out = current_profiles;
    return current_profiles_result;
  }
  HRESULT STDMETHODCALLTYPE get_FirewallEnabled(NET_FW_PROFILE_TYPE2 profile,
                                                VARIANT_BOOL* out) override {
    if (failing_profiles & profile)
      return E_FAIL;
    *out = (enabled_profiles & profile) ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Rules(INetFwRules** out) override {
    rules_->AddRef();
    *out = rules_;
    return S_OK;
  }
  FAKE_NOT_IMPLEMENTED(put_FirewallEnabled, NET_FW_PROFILE_TYPE2, VARIANT_BOOL)
  FAKE_PROFILE_PROPERTY(ExcludedInterfaces, VARIANT)
  FAKE_PROFILE_PROPERTY(BlockAllInboundTraffic, VARIANT_BOOL)
  FAKE_PROFILE_PROPERTY(NotificationsDisabled, VARIANT_BOOL)
  FAKE_PROFILE_PROPERTY(UnicastResponsesToMulticastBroadcastDisabled,
                        VARIANT_BOOL)
  FAKE_PROFILE_PROPERTY(DefaultInboundAction, NET_FW_ACTION)
  FAKE_PROFILE_PROPERTY(DefaultOutboundAction, NET_FW_ACTION)
  FAKE_NOT_IMPLEMENTED(get_ServiceRestriction, INetFwServiceRestriction**)
  FAKE_NOT_IMPLEMENTED(EnableRuleGroup, LONG, BSTR, VARIANT_BOOL)
  FAKE_NOT_IMPLEMENTED(IsRuleGroupEnabled, LONG, BSTR, VARIANT_BOOL*)
  FAKE_NOT_IMPLEMENTED(RestoreLocalFirewallDefaults)
  FAKE_NOT_IMPLEMENTED(get_IsRuleGroupCurrentlyEnabled, BSTR, VARIANT_BOOL*)
  FAKE_NOT_IMPLEMENTED(get_LocalPolicyModifyState, NET_FW_MODIFY_STATE*)

 private:
  INetFwRules* rules_;
};

// The rule collection, and every object handed out.
class FakeFirewall : public FakeDispatch<INetFwRules> {
 public:
  FakePolicy& policy() { return policy_; }
  // The rules in the collection, in order.
  const std::vector<FakeRule*>& rules() const { return installed_; }
  // A new rule object, as the NetFwRule class gives one.
  FakeRule* MakeRule() {
    created_.push_back(std::make_unique<FakeRule>());
    created_.back()->failing_field = failing_field_of_new_rules;
    return created_.back().get();
  }
  void AddExisting(const std::wstring& name, const std::wstring& application) {
    FakeRule* rule = MakeRule();
    rule->name = name;
    rule->application = application;
    installed_.push_back(rule);
  }
  // Every reference the code under test took has been given back.
  bool AllReleased() const {
    bool released = references() == 0 && policy_.references() == 0;
    for (const auto& rule : created_)
      released = released && rule->references() == 0;
    for (const auto& enumerator : enumerators_)
      released = released && enumerator->references() == 0;
    return released;
  }

  std::string failing_field_of_new_rules;

  // INetFwRules:
  HRESULT STDMETHODCALLTYPE Add(INetFwRule* rule) override {
    for (const auto& created : created_) {
      if (static_cast<INetFwRule*>(created.get()) == rule) {
        installed_.push_back(created.get());
        return S_OK;
      }
    }
    return E_INVALIDARG;
  }
  // Every rule of that name goes: the harshest reading of the collection's
  // removal, under which only a renamed rule is removed alone.
  HRESULT STDMETHODCALLTYPE Remove(BSTR name) override {
    std::erase_if(installed_, [name](FakeRule* rule) {
      return rule->name == std::wstring(name, ::SysStringLen(name));
    });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** out) override {
    enumerators_.push_back(std::make_unique<FakeRuleEnumerator>(installed_));
    enumerators_.back()->AddRef();
    *out = enumerators_.back().get();
    return S_OK;
  }
  FAKE_NOT_IMPLEMENTED(get_Count, LONG*)
  FAKE_NOT_IMPLEMENTED(Item, BSTR, INetFwRule**)

 private:
  FakePolicy policy_{this};
  std::vector<std::unique_ptr<FakeRule>> created_;
  std::vector<FakeRule*> installed_;
  std::vector<std::unique_ptr<FakeRuleEnumerator>> enumerators_;
};

class FakeClassFactory : public IClassFactory {
 public:
  using Maker = std::function<HRESULT(REFIID, void**)>;
  explicit FakeClassFactory(Maker maker) : maker_(std::move(maker)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    const bool known = iid == IID_IUnknown || iid == IID_IClassFactory;
    *out = known ? static_cast<IClassFactory*>(this) : nullptr;
    return known ? S_OK : E_NOINTERFACE;
  }
  // COM's own references; the test owns the factory.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer,
                                           REFIID iid,
                                           void** out) override {
    *out = nullptr;
    return outer ? CLASS_E_NOAGGREGATION : maker_(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  Maker maker_;
};

// Registers a class object in this process for the test's life.
class ScopedClassRegistration {
 public:
  ScopedClassRegistration(REFCLSID clsid, IClassFactory* factory)
      : result_(::CoRegisterClassObject(clsid,
                                        factory,
                                        CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE,
                                        &cookie_)) {}
  ScopedClassRegistration(const ScopedClassRegistration&) = delete;
  ScopedClassRegistration& operator=(const ScopedClassRegistration&) = delete;
  ~ScopedClassRegistration() {
    if (SUCCEEDED(result_))
      ::CoRevokeClassObject(cookie_);
  }
  bool Succeeded() const { return SUCCEEDED(result_); }

 private:
  DWORD cookie_ = 0;
  HRESULT result_;
};

constexpr wchar_t kExecutable[] =
    L"C:\\Program Files\\Tarvo\\Application\\tarvo.exe";
constexpr wchar_t kOtherExecutable[] = L"C:\\Program Files\\Other\\other.exe";
constexpr wchar_t kMdnsRuleName[] =
    L"Tarvo developer Internet Browser (mDNS-In)";

class FirewallManagerTest : public testing::Test {
 protected:
  FirewallManagerTest()
      : policy_factory_([this](REFIID iid, void** out) {
          return firewall_.policy().QueryInterface(iid, out);
        }),
        rule_factory_([this](REFIID iid, void** out) {
          return firewall_.MakeRule()->QueryInterface(iid, out);
        }),
        policy_class_(__uuidof(NetFwPolicy2), &policy_factory_),
        rule_class_(__uuidof(NetFwRule), &rule_factory_) {}

  void SetUp() override {
    ASSERT_TRUE(com_.Succeeded());
    ASSERT_TRUE(policy_class_.Succeeded());
    ASSERT_TRUE(rule_class_.Succeeded());
  }
  void TearDown() override { EXPECT_TRUE(firewall_.AllReleased()); }

  std::unique_ptr<FirewallManager> CreateManager() {
    return FirewallManager::Create(GetFirewallNameProvider(),
                                   FilePath(kExecutable));
  }

  // The names of the collection's rules whose application is `executable`,
  // letter case as written.
  std::vector<std::wstring> RuleNamesOf(const std::wstring& executable) {
    std::vector<std::wstring> names;
    for (const FakeRule* rule : firewall_.rules()) {
      if (rule->application == executable)
        names.push_back(rule->name);
    }
    return names;
  }

  base::win::ScopedCOMInitializer com_;
  FakeFirewall firewall_;
  FakeClassFactory policy_factory_;
  FakeClassFactory rule_factory_;
  ScopedClassRegistration policy_class_;
  ScopedClassRegistration rule_class_;
};

TEST_F(FirewallManagerTest, MdnsRuleCarriesEveryFieldInOrder) {
  ASSERT_TRUE(CreateManager()->AddMdnsRule());

  ASSERT_EQ(1u, firewall_.rules().size());
  const FakeRule& rule = *firewall_.rules()[0];
  EXPECT_EQ(kMdnsRuleName, rule.name);
  EXPECT_EQ(L"Inbound rule to allow mDNS traffic.", rule.description);
  EXPECT_EQ(kExecutable, rule.application);
  EXPECT_EQ(17, rule.protocol);
  EXPECT_EQ(NET_FW_RULE_DIR_IN, rule.direction);
  EXPECT_EQ(VARIANT_TRUE, rule.enabled);
  EXPECT_EQ(L"5353", rule.ports);
  EXPECT_EQ(L"Tarvo developer Internet Browser", rule.grouping);
  EXPECT_EQ(NET_FW_PROFILE2_ALL, rule.profiles);
  EXPECT_EQ(NET_FW_ACTION_ALLOW, rule.action);
  EXPECT_EQ(
      (std::vector<std::string>{
          "Name", "Description", "ApplicationName", "Protocol", "Direction",
          "Enabled", "LocalPorts", "Grouping", "Profiles", "Action"}),
      rule.fields_set);
}

TEST_F(FirewallManagerTest, AddingTwiceLeavesOneRuleAndReplacesAnyLetterCase) {
  firewall_.AddExisting(kMdnsRuleName,
                        L"c:\\PROGRAM FILES\\tarvo\\Application\\TARVO.EXE");
  std::unique_ptr<FirewallManager> manager = CreateManager();
  ASSERT_TRUE(manager->AddMdnsRule());
  ASSERT_TRUE(manager->AddMdnsRule());

  ASSERT_EQ(1u, firewall_.rules().size());
  EXPECT_EQ(kExecutable, firewall_.rules()[0]->application);
  EXPECT_EQ(kMdnsRuleName, firewall_.rules()[0]->name);
}

TEST_F(FirewallManagerTest, RemoveRulesLeavesOtherExecutablesAlone) {
  firewall_.AddExisting(kMdnsRuleName, kOtherExecutable);
  firewall_.AddExisting(kMdnsRuleName, kExecutable);
  firewall_.AddExisting(L"Tarvo extra",
                        L"C:\\program files\\tarvo\\"
                        L"application\\tarvo.exe");
  firewall_.AddExisting(L"Other", kOtherExecutable);
  firewall_.AddExisting(kMdnsRuleName, L"");

  CreateManager()->RemoveRules();

  EXPECT_EQ((std::vector<std::wstring>{kMdnsRuleName, L"Other"}),
            RuleNamesOf(kOtherExecutable));
  EXPECT_EQ(std::vector<std::wstring>{kMdnsRuleName}, RuleNamesOf(L""));
  EXPECT_EQ(3u, firewall_.rules().size());
}

TEST_F(FirewallManagerTest, RuleWithAFieldRefusedIsNotAdded) {
  // Without its application the rule would open the port to every program.
  firewall_.failing_field_of_new_rules = "ApplicationName";
  EXPECT_FALSE(CreateManager()->AddMdnsRule());
  EXPECT_TRUE(firewall_.rules().empty());
}

TEST_F(FirewallManagerTest, RulesInPlaceWhenFirewallOffOrRuleExists) {
  constexpr LONG kPublic = NET_FW_PROFILE2_PUBLIC;
  constexpr LONG kPrivate = NET_FW_PROFILE2_PRIVATE;
  constexpr LONG kDomain = NET_FW_PROFILE2_DOMAIN;
  const struct {
    const char* label;
    LONG current;
    HRESULT current_result;
    LONG enabled;
    LONG failing;
    bool has_rule;
    bool in_place;
  } kCases[] = {
      {"every profile off", kPublic | kPrivate | kDomain, S_OK, 0, 0, false,
       true},
      {"profiles unreadable", kPublic, E_NOTIMPL, kPublic, 0, false, true},
      {"on, no rule", kPublic, S_OK, kPublic, 0, false, false},
      {"on, rule", kPublic, S_OK, kPublic, 0, true, true},
      {"on only where not in force", kPrivate, S_OK, kPublic | kDomain, 0,
       false, true},
      {"domain on", kPrivate | kDomain, S_OK, kDomain, 0, false, false},
      {"state unreadable counts as on", kPrivate, S_OK, 0, kPrivate, false,
       false},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.label);
    FakePolicy& policy = firewall_.policy();
    policy.current_profiles = test_case.current;
    policy.current_profiles_result = test_case.current_result;
    policy.enabled_profiles = test_case.enabled;
    policy.failing_profiles = test_case.failing;
    std::unique_ptr<FirewallManager> manager = CreateManager();
    manager->RemoveRules();
    if (test_case.has_rule) {
      ASSERT_TRUE(manager->AddMdnsRule());
    }
    EXPECT_EQ(test_case.in_place, manager->AreRulesInPlace());
  }
}

TEST(FirewallManagerPolicyTest, CreateFailsWithoutThePolicy) {
  base::win::ScopedCOMInitializer com;
  FakeClassFactory refusing_factory(
      [](REFIID, void**) -> HRESULT { return E_ACCESSDENIED; });
  ScopedClassRegistration policy_class(__uuidof(NetFwPolicy2),
                                       &refusing_factory);
  ASSERT_TRUE(policy_class.Succeeded());
  EXPECT_EQ(nullptr, FirewallManager::Create(GetFirewallNameProvider(),
                                             FilePath(kExecutable)));
}

TEST(FirewallManagerPolicyTest, ReachesTheSystemPolicy) {
  // Only creation is asserted: Wine's policy cannot enumerate rules or read
  // profiles, and its rule collection keeps nothing.
  base::win::ScopedCOMInitializer com;
  EXPECT_NE(nullptr, FirewallManager::Create(GetFirewallNameProvider(),
                                             FilePath(kExecutable)));
}

}  // namespace
}  // namespace installer
