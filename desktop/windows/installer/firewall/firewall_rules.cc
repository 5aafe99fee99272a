#include "desktop/windows/installer/firewall/firewall_rules.h"

#include <oleauto.h>

#include "base/logging.h"
#include "base/rand_util.h"
#include "base/strings/string_format.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_bstr.h"
#include "base/win/scoped_variant.h"

namespace installer {

namespace {

using base::win::ComPtr;
using base::win::ScopedBstr;

constexpr wchar_t kMdnsRuleSuffix[] = L" (mDNS-In)";
constexpr wchar_t kMdnsRuleDescription[] =
    L"Inbound rule to allow mDNS traffic.";
constexpr unsigned kMdnsPort = 5353;

// Asked in this order; the first profile found on decides.
constexpr NET_FW_PROFILE_TYPE2 kProfiles[] = {
    NET_FW_PROFILE2_PUBLIC, NET_FW_PROFILE2_PRIVATE, NET_FW_PROFILE2_DOMAIN};

bool Succeeded(HRESULT result, const char* what) {
  if (SUCCEEDED(result))
    return true;
  LOG(ERROR) << what << " failed: 0x" << std::hex << result;
  return false;
}

// Empty when the rule has no such name or it cannot be read.
std::wstring ReadBstr(INetFwRule* rule,
                      HRESULT (STDMETHODCALLTYPE INetFwRule::*getter)(BSTR*)) {
  ScopedBstr text;
  if (FAILED((rule->*getter)(text.Receive())) || !text.Get())
    return std::wstring();
  return std::wstring(text.Get(), text.Length());
}

}  // namespace

FirewallRules::FirewallRules() = default;

FirewallRules::~FirewallRules() = default;

bool FirewallRules::Init(const std::wstring& application_name,
                         const base::FilePath& executable) {
  if (!Succeeded(policy_.CreateInstance(__uuidof(NetFwPolicy2), CLSCTX_ALL),
                 "Creating the firewall policy") ||
      !Succeeded(policy_->get_Rules(rules_.Receive()), "Reading the rules") ||
      !rules_) {
    rules_.Reset();
    policy_.Reset();
    return false;
  }
  application_name_ = application_name;
  executable_ = executable;
  return true;
}

bool FirewallRules::IsFirewallEnabled() {
  LONG current_profiles = 0;
  if (FAILED(policy_->get_CurrentProfileTypes(&current_profiles)))
    return false;
  for (NET_FW_PROFILE_TYPE2 profile : kProfiles) {
    if (!(current_profiles & profile))
      continue;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    if (FAILED(policy_->get_FirewallEnabled(profile, &enabled)) ||
        enabled != VARIANT_FALSE) {
      return true;
    }
  }
  return false;
}

bool FirewallRules::HasRules() {
  return !GetRules().empty();
}

bool FirewallRules::AddMdnsRule() {
  const std::wstring name = GetMdnsRuleName();
  for (const ComPtr<INetFwRule>& rule : GetRules()) {
    if (ReadBstr(rule.Get(), &INetFwRule::get_Name) == name)
      RemoveRule(rule.Get());
  }
  ComPtr<INetFwRule> rule;
  if (!Succeeded(rule.CreateInstance(__uuidof(NetFwRule), CLSCTX_ALL),
                 "Creating a firewall rule") ||
      !SetMdnsRuleFields(rule.Get())) {
    return false;
  }
  return Succeeded(rules_->Add(rule.Get()), "Adding the mDNS rule");
}

void FirewallRules::RemoveRules() {
  for (const ComPtr<INetFwRule>& rule : GetRules())
    RemoveRule(rule.Get());
}

FirewallRules::RuleList FirewallRules::GetRules() {
  RuleList found;
  ComPtr<IUnknown> enumerator_source;
  ComPtr<IEnumVARIANT> enumerator;
  if (FAILED(rules_->get__NewEnum(enumerator_source.Receive())) ||
      FAILED(enumerator_source.QueryInterface(&enumerator))) {
    return found;
  }
  for (;;) {
    base::win::ScopedVariant element;
    ULONG fetched = 0;
    if (enumerator->Next(1, element.Receive(), &fetched) != S_OK ||
        fetched != 1) {
      break;
    }
    if (element.type() != VT_DISPATCH || !V_DISPATCH(&element.Get()))
      continue;
    ComPtr<INetFwRule> rule;
    if (FAILED(V_DISPATCH(&element.Get())
                   ->QueryInterface(__uuidof(INetFwRule), rule.ReceiveVoid())))
      continue;
    const std::wstring application =
        ReadBstr(rule.Get(), &INetFwRule::get_ApplicationName);
    if (!application.empty() &&
        base::FilePath::CompareIgnoreCase(base::FilePath(application),
                                          executable_) == 0) {
      found.push_back(std::move(rule));
    }
  }
  return found;
}

std::wstring FirewallRules::GetMdnsRuleName() const {
  return application_name_ + kMdnsRuleSuffix;
}

bool FirewallRules::SetMdnsRuleFields(INetFwRule* rule) {
  // A rule missing its application would open the port to every program:
  // every field must take.
  ScopedBstr name(GetMdnsRuleName().c_str());
  ScopedBstr description(kMdnsRuleDescription);
  ScopedBstr application(executable_.value().c_str());
  ScopedBstr ports(base::FormatWideString(L"%u", kMdnsPort).c_str());
  ScopedBstr grouping(application_name_.c_str());
  return Succeeded(rule->put_Name(name.Get()), "Naming the rule") &&
         Succeeded(rule->put_Description(description.Get()),
                   "Describing the rule") &&
         Succeeded(rule->put_ApplicationName(application.Get()),
                   "Setting the rule's application") &&
         Succeeded(rule->put_Protocol(NET_FW_IP_PROTOCOL_UDP),
                   "Setting the rule's protocol") &&
         Succeeded(rule->put_Direction(NET_FW_RULE_DIR_IN),
                   "Setting the rule's direction") &&
         Succeeded(rule->put_Enabled(VARIANT_TRUE), "Enabling the rule") &&
         Succeeded(rule->put_LocalPorts(ports.Get()),
                   "Setting the rule's ports") &&
         Succeeded(rule->put_Grouping(grouping.Get()),
                   "Setting the rule's group") &&
         Succeeded(rule->put_Profiles(NET_FW_PROFILE2_ALL),
                   "Setting the rule's profiles") &&
         Succeeded(rule->put_Action(NET_FW_ACTION_ALLOW),
                   "Setting the rule's action");
}

void FirewallRules::RemoveRule(INetFwRule* rule) {
  ScopedBstr unique_name(base::Utf8ToWide(base::GenerateGuidText()).c_str());
  if (SUCCEEDED(rule->put_Name(unique_name.Get())))
    rules_->Remove(unique_name.Get());
}

}  // namespace installer
