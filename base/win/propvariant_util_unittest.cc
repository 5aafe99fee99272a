#include "base/win/propvariant_util.h"

#include <windows.h>

#include <propsys.h>

#include <string>

#include "gtest/gtest.h"

namespace base::win {
namespace {

// Wine's shell-link property store accepts writes but keeps nothing, so the
// store is a recording fake.
class RecordingPropertyStore : public IPropertyStore {
 public:
  RecordingPropertyStore(HRESULT set_result, HRESULT commit_result)
      : set_result_(set_result), commit_result_(commit_result) {
    ::PropVariantInit(&value_);
  }
  ~RecordingPropertyStore() { ::PropVariantClear(&value_); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid != __uuidof(IUnknown) && iid != __uuidof(IPropertyStore)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IPropertyStore*>(this);
    return S_OK;
  }
  // Lives on the test's stack.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAt(DWORD, PROPERTYKEY*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY, PROPVARIANT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key,
                                     REFPROPVARIANT value) override {
    key_ = key;
    ::PropVariantClear(&value_);
    ::PropVariantCopy(&value_, &value);
    ++set_calls_;
    return set_result_;
  }
  HRESULT STDMETHODCALLTYPE Commit() override {
    ++commit_calls_;
    return commit_result_;
  }

  const PROPERTYKEY& key() const { return key_; }
  const PROPVARIANT& value() const { return value_; }
  int set_calls() const { return set_calls_; }
  int commit_calls() const { return commit_calls_; }

 private:
  const HRESULT set_result_;
  const HRESULT commit_result_;
  PROPERTYKEY key_ = {};
  PROPVARIANT value_;
  int set_calls_ = 0;
  int commit_calls_ = 0;
};

bool SameKey(const PROPERTYKEY& a, const PROPERTYKEY& b) {
  return a.fmtid == b.fmtid && a.pid == b.pid;
}

TEST(PropVariantUtil, CommitFollowsOnlyASetValueOfSOk) {
  struct Case {
    const char* name;
    HRESULT set_result;
    HRESULT commit_result;
    int expected_commits;
    bool expected;
  };
  const Case cases[] = {
      {"both succeed", S_OK, S_OK, 1, true},
      {"commit fails", S_OK, E_FAIL, 1, false},
      {"set fails", E_ACCESSDENIED, S_OK, 0, false},
      {"set succeeds with a warning", INPLACE_S_TRUNCATED, E_FAIL, 0, true},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    RecordingPropertyStore text_store(test.set_result, test.commit_result);
    EXPECT_EQ(test.expected, SetStringPropertyValue(&text_store, L"Tarvo.App"));
    EXPECT_EQ(test.expected_commits, text_store.commit_calls());
    RecordingPropertyStore flag_store(test.set_result, test.commit_result);
    EXPECT_EQ(test.expected, SetBooleanPropertyValue(&flag_store, true));
    EXPECT_EQ(test.expected_commits, flag_store.commit_calls());
  }
}

TEST(PropVariantUtil, ValuesGoToTheirAppUserModelKeys) {
  RecordingPropertyStore text_store(S_OK, S_OK);
  ASSERT_TRUE(SetStringPropertyValue(&text_store, L"Tarvo.Browser.\u00e9"));
  EXPECT_TRUE(SameKey(kAppUserModelIdKey, text_store.key()));
  EXPECT_EQ(5u, text_store.key().pid);
  ASSERT_EQ(VT_LPWSTR, text_store.value().vt);
  EXPECT_EQ(std::wstring(L"Tarvo.Browser.\u00e9"), text_store.value().pwszVal);

  for (bool flag : {true, false}) {
    RecordingPropertyStore flag_store(S_OK, S_OK);
    ASSERT_TRUE(SetBooleanPropertyValue(&flag_store, flag));
    EXPECT_TRUE(SameKey(kAppUserModelIsDualModeKey, flag_store.key()));
    EXPECT_EQ(11u, flag_store.key().pid);
    ASSERT_EQ(VT_BOOL, flag_store.value().vt);
    EXPECT_EQ(flag ? VARIANT_TRUE : VARIANT_FALSE, flag_store.value().boolVal);
  }
}

TEST(PropVariantUtil, NullTextIsRefusedBeforeTheStore) {
  PROPVARIANT variant;
  variant.vt = VT_I4;
  EXPECT_EQ(E_INVALIDARG, InitPropVariantFromString(nullptr, &variant));
  EXPECT_EQ(VT_EMPTY, variant.vt);
  RecordingPropertyStore store(S_OK, S_OK);
  EXPECT_FALSE(SetStringPropertyValue(&store, nullptr));
  EXPECT_EQ(0, store.set_calls());
}

}  // namespace
}  // namespace base::win
