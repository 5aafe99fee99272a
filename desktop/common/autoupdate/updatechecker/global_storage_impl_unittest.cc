#include "desktop/common/autoupdate/updatechecker/global_storage_impl.h"

#include <windows.h>
#include <sddl.h>

#include <memory>
#include <string>

#include "base/files/file_util.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/rand_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/scoped_log_capture.h"
#include "base/test/scoped_registry_override.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/common/autoupdate/updatechecker/global_storage_mutex.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::FilePath;

constexpr wchar_t kCompanyKey[] = L"Software\\Tarvo Software";

std::wstring UniqueName(const wchar_t* prefix) {
  return prefix + base::Utf8ToWide(base::GenerateGuidText());
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& logged : lines) {
    if (logged == line)
      return true;
  }
  return false;
}

// The storage tool as a second process holding (or only creating) the
// storage's mutex until it is told to let go.
class MutexHolder {
 public:
  MutexHolder(const std::wstring& mutex_name, const std::wstring& switches)
      : ready_name_(UniqueName(L"gs_test_ready_")),
        release_name_(UniqueName(L"gs_test_release_")),
        ready_(::CreateEventW(nullptr, TRUE, FALSE, ready_name_.c_str())),
        release_(::CreateEventW(nullptr, TRUE, FALSE, release_name_.c_str())) {
    wchar_t module[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    const FilePath tool = FilePath(std::wstring(module, length))
                              .DirName()
                              .Append(L"installer")
                              .Append(L"global_storage_tool.exe");
    command_ = L"\"" + tool.value() + L"\" --hold --mutex=" + mutex_name +
               L" --ready=" + ready_name_ + L" --release=" + release_name_ +
               L" " + switches;
    process_ = base::LaunchProcess(command_, {});
  }
  MutexHolder(const MutexHolder&) = delete;
  MutexHolder& operator=(const MutexHolder&) = delete;
  ~MutexHolder() { Finish(); }

  // True once the holder is ready; false when it ended instead.
  bool WaitUntilReady() {
    if (!ready_.IsValid() || !release_.IsValid())
      return false;
    // Under load Wine now and then fails to start a program, which then
    // ends with 1, a code the tool never gives: it is started once more.
    for (int attempt = 0; attempt < 2 && process_.IsValid(); ++attempt) {
      const HANDLE handles[] = {ready_.Get(), process_.Handle()};
      if (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) ==
          WAIT_OBJECT_0) {
        return true;
      }
      int exit_code = -1;
      process_.WaitForExit(&exit_code);
      if (exit_code != kWineStartFailure)
        return false;
      process_ = base::LaunchProcess(command_, {});
    }
    return false;
  }
  // Lets go and waits for the holder's end; its exit status.
  int Finish() {
    if (!process_.IsValid())
      return -1;
    ::SetEvent(release_.Get());
    int exit_code = -1;
    process_.WaitForExit(&exit_code);
    process_ = base::Process();
    return exit_code;
  }

 private:
  static constexpr int kWineStartFailure = 1;

  std::wstring command_;
  const std::wstring ready_name_;
  const std::wstring release_name_;
  base::win::ScopedHandle ready_;
  base::win::ScopedHandle release_;
  base::Process process_;
};

// The access a handle was granted, as the kernel records it.
ACCESS_MASK GrantedAccess(HANDLE handle) {
  struct BasicInformation {
    ULONG attributes;
    ACCESS_MASK granted_access;
    ULONG rest[20];
  } information = {};
  using QueryObject = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  auto query = reinterpret_cast<QueryObject>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
  ULONG length = 0;
  if (!query || query(handle, 0, &information, sizeof(information), &length))
    return 0;
  return information.granted_access;
}

// Every test has a registry, a user-data folder and a mutex name of its own.
class GlobalStorageTest : public testing::Test {
 protected:
  GlobalStorageTest()
      : mutex_name_(UniqueName(L"tauc_registry_mutex_test_")),
        storage_(mutex_name_.c_str()) {}

  void SetUp() override {
    ASSERT_TRUE(registry_.Valid());
    ASSERT_FALSE(user_data_.path().empty());
  }

  FilePath FallbackFile() const {
    return user_data_.path().Append(L"au_global_storage");
  }
  bool CompanyKeyExists() const {
    base::win::RegistryKey key;
    return key.Open(HKEY_CURRENT_USER, kCompanyKey, KEY_READ) == ERROR_SUCCESS;
  }
  // The registry value as any reader sees it; empty when missing.
  std::wstring RegistryValue(const wchar_t* name) const {
    base::win::RegistryKey key(HKEY_CURRENT_USER, kCompanyKey, KEY_READ);
    std::wstring value;
    key.ReadString(name, &value);
    return value;
  }
  // What another process in fallback mode reads from the same file.
  std::string ReadThroughFile(const std::string& name) {
    GlobalStorageImpl reader(mutex_name_.c_str());
    reader.Initialize(true);
    reader.SetFallbackDirectory(user_data_.path());
    std::string value;
    EXPECT_EQ(GlobalStorage::kSuccess, reader.Read(name, &value));
    return value;
  }
  std::string Read(const std::string& name) {
    std::string value;
    EXPECT_EQ(GlobalStorage::kSuccess, storage_.Read(name, &value));
    return value;
  }

  base::win::ScopedRegistryOverride registry_{HKEY_CURRENT_USER};
  base::ScopedTempFolder user_data_;
  const std::wstring mutex_name_;
  GlobalStorageImpl storage_;
};

TEST_F(GlobalStorageTest, RegistryValuesReadBackIntact) {
  // Wine gives a stored REG_SZ without terminator one, so that the value is
  // stored without it is not asserted.
  storage_.Initialize(false);
  EXPECT_EQ(GlobalStorage::kSuccess, storage_.Write("UUID", "0f1e-c0de"));
  EXPECT_EQ("0f1e-c0de", Read("UUID"));
  EXPECT_EQ(L"0f1e-c0de", RegistryValue(L"UUID"));

  EXPECT_EQ(GlobalStorage::kSuccess, storage_.Write("UUID", ""));
  EXPECT_EQ("", Read("UUID"));
  EXPECT_EQ(L"", RegistryValue(L"UUID"));

  // Another writer's value, stored with its terminator.
  base::win::RegistryKey key(HKEY_CURRENT_USER, kCompanyKey, KEY_SET_VALUE);
  ASSERT_EQ(ERROR_SUCCESS, key.WriteString(L"Channel", L"beta"));
  EXPECT_EQ("beta", Read("Channel"));
}

TEST_F(GlobalStorageTest, DeletingAMissingNameCreatesNothing) {
  storage_.Initialize(false);
  EXPECT_EQ(GlobalStorage::kSuccess, storage_.Write("UUID", ""));
  EXPECT_FALSE(CompanyKeyExists());
  EXPECT_EQ("", Read("UUID"));
}

TEST_F(GlobalStorageTest, CopyOnlyInstallationKeepsValuesInTheFileAlone) {
  storage_.Initialize(true);
  // Without a folder there is nowhere to write.
  EXPECT_EQ(GlobalStorage::kFailure, storage_.Write("UUID", "abc"));

  storage_.SetFallbackDirectory(user_data_.path());
  EXPECT_EQ(GlobalStorage::kSuccess, storage_.Write("UUID", "abc"));
  EXPECT_EQ(GlobalStorage::kSuccess, storage_.Write("Other", "1"));
  EXPECT_EQ(GlobalStorage::kSuccess, storage_.Write("Other", ""));
  EXPECT_EQ("abc", Read("UUID"));
  EXPECT_EQ("abc", ReadThroughFile("UUID"));
  EXPECT_EQ("", ReadThroughFile("Other"));
  EXPECT_FALSE(CompanyKeyExists());
}

TEST_F(GlobalStorageTest, CompanyKeyRefusingWritesChoosesTheFile) {
  base::win::RegistryKey key(HKEY_CURRENT_USER, kCompanyKey, KEY_ALL_ACCESS);
  ASSERT_TRUE(key.Valid());
  base::win::ScopedLocalAlloc<> read_only;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(A;OICI;KR;;;WD)", SDDL_REVISION_1, read_only.Receive(), nullptr));
  base::win::ScopedLocalAlloc<> open;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(A;OICI;KA;;;WD)", SDDL_REVISION_1, open.Receive(), nullptr));
  ASSERT_EQ(ERROR_SUCCESS,
            ::RegSetKeySecurity(key.Handle(), DACL_SECURITY_INFORMATION,
                                read_only.Get()));

  storage_.Initialize(false);
  storage_.SetFallbackDirectory(user_data_.path());
  EXPECT_EQ(GlobalStorage::kSuccess, storage_.Write("UUID", "abc"));

  // The key's list goes back first, so that the test's key can be deleted.
  EXPECT_EQ(ERROR_SUCCESS, ::RegSetKeySecurity(key.Handle(),
                                               DACL_SECURITY_INFORMATION,
                                               open.Get()));
  EXPECT_EQ("abc", ReadThroughFile("UUID"));
  EXPECT_EQ(L"", RegistryValue(L"UUID"));
}

TEST_F(GlobalStorageTest, FallbackFileReplaysIntoTheRegistryInKeyOrder) {
  // Registry names ignore case: "UUID" comes first in key order, and
  // "uuid", written after it, is what stays.
  const std::string file_text =
      R"({"GS":{"uuid":"lower","UUID":"upper","b":"2","n":5,"l":["x"]}})";
  ASSERT_EQ(static_cast<int>(file_text.size()),
            base::WriteBufferToFile(FallbackFile(), file_text.data(),
                                    static_cast<int>(file_text.size())));
  storage_.Initialize(false);
  storage_.SetFallbackDirectory(user_data_.path());

  EXPECT_EQ(L"lower", RegistryValue(L"UUID"));
  EXPECT_EQ("2", Read("b"));
  EXPECT_EQ("", Read("n"));
  EXPECT_EQ("", Read("l"));
  std::string kept;
  ASSERT_TRUE(base::ReadFileToString(FallbackFile(), &kept));
  EXPECT_EQ(file_text, kept);

  // From now on a write reaches both.
  EXPECT_EQ(GlobalStorage::kSuccess, storage_.Write("c", "3"));
  EXPECT_EQ(L"3", RegistryValue(L"c"));
  EXPECT_EQ("3", ReadThroughFile("c"));
}

TEST_F(GlobalStorageTest, NoReplayOnceThisProcessWroteTheRegistry) {
  const std::string file_text = R"({"GS":{"b":"2"}})";
  ASSERT_EQ(static_cast<int>(file_text.size()),
            base::WriteBufferToFile(FallbackFile(), file_text.data(),
                                    static_cast<int>(file_text.size())));
  storage_.Initialize(false);
  ASSERT_EQ(GlobalStorage::kSuccess, storage_.Write("a", "1"));
  storage_.SetFallbackDirectory(user_data_.path());
  EXPECT_EQ(L"", RegistryValue(L"b"));
}

TEST_F(GlobalStorageTest, BusyAtOnceWhileAnotherProcessHoldsTheMutex) {
  storage_.Initialize(false);
  MutexHolder holder(mutex_name_, L"--take");
  ASSERT_TRUE(holder.WaitUntilReady());
  {
    base::ScopedLogCapture log;
    // Waiting here would never end: the holder waits for this test.
    EXPECT_EQ(GlobalStorage::kBusy, storage_.Write("UUID", "abc"));
    std::string value = "stale";
    EXPECT_EQ(GlobalStorage::kBusy, storage_.Read("UUID", &value));
    EXPECT_EQ("", value);
    EXPECT_TRUE(
        Contains(log.lines(), "[AU] GS: Couldn't get hold on an access mutex"));
  }
  EXPECT_FALSE(CompanyKeyExists());

  EXPECT_EQ(0, holder.Finish());
  EXPECT_EQ(GlobalStorage::kSuccess, storage_.Write("UUID", "abc"));
  EXPECT_EQ("abc", Read("UUID"));
}

TEST_F(GlobalStorageTest, AbandonedMutexIsTakenAndLogged) {
  storage_.Initialize(false);
  // Opens the mutex, so that it outlives the holder.
  EXPECT_EQ("", Read("UUID"));
  MutexHolder holder(mutex_name_, L"--abandon");
  ASSERT_TRUE(holder.WaitUntilReady());
  ASSERT_EQ(0, holder.Finish());
  {
    base::ScopedLogCapture log;
    EXPECT_EQ(GlobalStorage::kSuccess, storage_.Write("UUID", "abc"));
    EXPECT_TRUE(Contains(
        log.lines(), "[AU] GS: The access mutex was abandoned by its holder"));
  }
  // Released properly this time: another process can take it.
  MutexHolder next(mutex_name_, L"--take");
  ASSERT_TRUE(next.WaitUntilReady());
  EXPECT_EQ(GlobalStorage::kBusy, storage_.Write("UUID", "def"));
  EXPECT_EQ(0, next.Finish());
  EXPECT_EQ("abc", Read("UUID"));
}

TEST_F(GlobalStorageTest, MutexWhoseCreatorDeniesFullAccess) {
  // Wine lets a handle without the modify right release a mutex, which
  // Windows refuses: the access the handle was granted is what is checked.
  // Wine also lets the creator's user open it fully unless a right is
  // denied outright, hence the deny entry.
  const struct {
    const wchar_t* dacl;
    bool usable;
  } kCases[] = {
      // SYNCHRONIZE | MUTEX_MODIFY_STATE
      {L"--dacl=D:P(D;;SD;;;WD)(A;;0x100001;;;WD)", true},
      // SYNCHRONIZE alone
      {L"--dacl=D:P(D;;SD;;;WD)(A;;0x100000;;;WD)", false},
  };
  storage_.Initialize(false);
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.dacl);
    const std::wstring name = UniqueName(L"tauc_registry_mutex_test_");
    MutexHolder creator(name, test_case.dacl);
    ASSERT_TRUE(creator.WaitUntilReady());

    GlobalStorageMutex mutex(name);
    ASSERT_EQ(test_case.usable, mutex.Open());
    if (test_case.usable) {
      EXPECT_EQ(static_cast<ACCESS_MASK>(SYNCHRONIZE | MUTEX_MODIFY_STATE),
                GrantedAccess(mutex.handle()));
      EXPECT_EQ(GlobalStorageMutex::Acquisition::kAcquired, mutex.TryAcquire());
      EXPECT_TRUE(mutex.Release());
    }
    GlobalStorageImpl storage(name.c_str());
    storage.Initialize(false);
    base::ScopedLogCapture log;
    EXPECT_EQ(
        test_case.usable ? GlobalStorage::kSuccess : GlobalStorage::kFailure,
        storage.Write("UUID", "abc"));
    EXPECT_EQ(
        !test_case.usable,
        Contains(log.lines(), "[AU] GS: Couldn't create an access mutex"));
    EXPECT_EQ(0, creator.Finish());
  }
}

}  // namespace
}  // namespace installer
