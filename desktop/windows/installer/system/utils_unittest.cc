#include "desktop/windows/installer/system/utils.h"

// The sockets' header first: the adapter list's types build on it.
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/test/scoped_log_capture.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/shortcut.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::FilePath;

TEST(ServiceUtilsTest, NamesFollowBrandingAndChannel) {
  EXPECT_EQ("tarvo.exe", GetProductExecutableName());
  EXPECT_EQ(L"Software\\Tarvo Software", GetCompanyRegistryPath());
  EXPECT_EQ(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
            GetUninstallRegistryPath());
  EXPECT_EQ(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvo",
            GetUninstallRegistryPath(L"Tarvo"));
  EXPECT_EQ("Developer", GetCurrentStreamName());  // This build's channel 2.
}

TEST(ServiceUtilsTest, InstallPathValidity) {
  const struct {
    const wchar_t* path;
    bool valid;
  } kCases[] = {
      {L"C:\\Program Files\\Tarvo", true},
      {L"C:\\", true},
      {L"C:", false},
      {L"C:Tarvo", false},
      {L"Tarvo\\x", false},
      {L"\\Tarvo", false},
      {L"\\\\server\\share\\", true},
      {L"//server/share/Tarvo", true},
      {L"C:\\a..b\\COM10\\nul1\\conx.d", true},
      {L"", false},
      {L"\\\\server", false},
      {L"\\\\server\\share", false},
      {L"C:\\Tarvo\\com1.txt", false},
      {L"C:\\lpt9\\x", false},
      // The one device list of every name check: ports 0 and superscripts,
      // the console's names, blanks before the extension.
      {L"C:\\COM0\\x", false},
      {L"C:\\Tarvo\\LPT\u00B2.log", false},
      {L"C:\\conout$\\x", false},
      {L"C:\\Tarvo\\nul .txt\\x", false},
      {L"C:\\a \\b", false},
      {L"C:\\ a\\b", false},
      {L"C:\\a.\\b", false},
      {L"C:\\a\\b:c", false},
      {L"C:\\a<b>", false},
      {L"C:\\a\tb", false},
      // The device namespace names devices and the system's objects, not
      // folders: only the long-path forms of a drive's or share's path are
      // folders.
      {L"\\\\.\\NUL\\x", false},
      {L"\\\\.\\pipe\\x", false},
      {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\x", false},
      {L"//./COM1/x", false},
      {L"\\\\.\\C:\\x", false},
      {L"\\/?/C:\\x", false},
      {L"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\x", false},
      {L"\\\\?\\C:x", false},
      {L"\\\\?\\C:\\a/b", false},
      {L"\\\\?\\UNC\\server", false},
      {L"\\\\?\\C:\\Program Files\\Tarvo", true},
      {L"\\\\?\\UNC\\server\\share\\Tarvo", true},
      {L"\\\\?\\unc\\server\\share\\", true},
      {L"\\\\.server\\share\\x", true},
      // A share's path names a plain share of another machine, nothing else
      // the redirector reaches: not a pipe, a mailslot or the inter-process
      // share on any server, in any case or spelling...
      {L"\\\\localhost\\pipe\\x", false},
      {L"\\\\127.0.0.1\\pipe\\x", false},
      {L"\\\\?\\UNC\\localhost\\pipe\\x", false},
      {L"\\\\server\\PIPE\\x", false},
      {L"//server/Pipe/x", false},
      {L"\\\\?\\unc\\server\\pipe\\x", false},
      {L"\\\\server\\MailSlot\\x", false},
      {L"\\\\*\\mailslot\\x", false},
      {L"\\\\server\\ipc$\\x", false},
      {L"\\\\server\\pipe.\\x", false},
      {L"\\\\server\\pipe \\x", false},
      {L"\\\\server\\share\\..\\..\\localhost\\pipe\\x", false},
      // ...nor a drive's or the system's administrative share...
      {L"\\\\127.0.0.1\\C$\\x", false},
      {L"\\\\server\\d$\\x", false},
      {L"\\\\server\\ADMIN$\\x", false},
      {L"\\\\?\\UNC\\server\\Admin$\\x", false},
      // ...nor a server that is no name: dots, wildcards, a redirector's
      // own prefix, a web folder's port, blanks Windows would trim...
      {L"\\\\?\\UNC\\.\\pipe\\x", false},
      {L"\\\\..\\pipe\\x", false},
      {L"\\\\..\\share\\x", false},
      {L"\\\\?\\UNC\\?\\C:\\x", false},
      {L"\\\\serv*r\\share\\x", false},
      {L"\\\\;LanmanRedirector\\server\\share\\x", false},
      {L"\\\\?\\UNC\\;LanmanRedirector\\server\\share\\x", false},
      {L"\\\\;Z:0000000000012345\\server\\share\\x", false},
      {L"\\\\server@8080\\share\\x", false},
      {L"\\\\server@SSL\\DavWWWRoot\\x", false},
      {L"\\\\server.\\share\\x", false},
      {L"\\\\ server\\share\\x", false},
      {L"\\\\serv\ter\\share\\x", false},
      // ...nor this machine by any name that tells it without the network:
      // every share of it is one of its folders past the local checks.
      {L"\\\\LocalHost\\share\\x", false},
      {L"\\\\tarvo.localhost\\share\\x", false},
      {L"\\\\ip6-localhost\\share\\x", false},
      {L"\\\\127.255.255.254\\share\\x", false},
      {L"\\\\127.1\\share\\x", false},
      {L"\\\\0x7f.0.0.1\\share\\x", false},
      {L"\\\\2130706433\\share\\x", false},
      {L"\\\\0.0.0.0\\share\\x", false},
      {L"\\\\::1\\share\\x", false},
      {L"\\\\[::1]\\share\\x", false},
      {L"\\\\0--1.ipv6-literal.net\\share\\x", false},
      {L"\\\\--1.IPv6-Literal.Net\\share\\x", false},
      {L"\\\\--ffff-7f00-1.ipv6-literal.net\\share\\x", false},
      {L"\\\\0-0-0-0-0-0-0-1s4.ipv6-literal.net\\share\\x", false},
      // ...with the offline files' suffix, which the redirector takes off,
      // alone or with a web folder's decorations...
      {L"\\\\?\\UNC\\LocalHost$nocsc$\\share\\x", false},
      {L"\\\\127.0.0.1$NOCSC$$NOCSC$\\DavWWWRoot\\x", false},
      {L"\\\\localhost.$NOCSC$\\share\\x", false},
      {L"\\\\$NOCSC$\\share\\x", false},
      {L"\\\\server@SSL@8443$NOCSC$\\DavWWWRoot\\x", false},
      // ...or spelled as the name resolver folds into one of these:
      // full-width, ideographic full stops, a long s, invisible hyphens, a
      // best fit of the OEM code page ("l" with an acute).
      {L"\\\\\uFF4C\uFF4F\uFF43\uFF41\uFF4C\uFF48\uFF4F\uFF53\uFF54\\share\\x", false},
      {L"\\\\\uFF11\uFF12\uFF17\uFF0E\uFF10\uFF0E\uFF10\uFF0E\uFF11\\share\\x", false},
      {L"\\\\127\u30020\u30020\u30021\\share\\x", false},
      {L"\\\\LOCALHO\u017FT\\share\\x", false},
      {L"\\\\local\u00ADhost\\share\\x", false},
      {L"\\\\\u013Aocalhost\\share\\x", false},
      {L"\\\\localhost\uFF0E\\share\\x", false},
      {L"\\\\\uFF4C\uFF4F\uFF43\uFF41\uFF4C\uFF48\uFF4F\uFF53\uFF54$NOCSC$\\share\\x", false},
      // The device namespace's ways to the redirector stay refused.
      {L"\\\\.\\UNC\\server\\share\\x", false},
      {L"\\\\?\\GLOBALROOT\\Device\\Mup\\server\\share\\x", false},
      // Plain shares of other machines.
      {L"\\\\server.example.com\\share\\Tarvo", true},
      {L"\\\\10.0.0.5\\Apps$\\x", true},
      {L"\\\\128.0.0.1\\pipes\\x", true},
      {L"\\\\server\\C$$\\x", true},
      {L"\\\\2001-db8--1.ipv6-literal.net\\share\\x", true},
      {L"\\\\server$NOCSC$\\share\\x", true},
      {L"\\\\b\u00FCcher.example\\share\\x", true},
      {L"\\\\\u65E5\u672C.example\\share\\x", true},
      {L"\\\\?\\UNC\\server\\share\\x", true},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.valid, IsValidInstallPath(FilePath(c.path), true)) << c.path;
    EXPECT_EQ(c.valid, IsValidInstallPath(FilePath(c.path), false)) << c.path;
  }
}

// This machine's names and addresses as the system gives them, the
// addresses in each spelling the system reads: IPv4 dotted and as one
// number, IPv6 as a literal name with its scope and without.
std::vector<std::wstring> ThisComputersServers() {
  std::vector<std::wstring> servers;
  constexpr COMPUTER_NAME_FORMAT kFormats[] = {ComputerNameNetBIOS,
                                               ComputerNameDnsHostname,
                                               ComputerNameDnsFullyQualified};
  for (COMPUTER_NAME_FORMAT format : kFormats) {
    wchar_t name[256] = {};
    DWORD size = std::size(name);
    EXPECT_TRUE(::GetComputerNameExW(format, name, &size)) << format;
    std::wstring lower(name, size);
    ::CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
    servers.insert(servers.end(), {std::wstring(name, size), lower});
  }
  ULONG size = 64 * 1024;
  std::vector<uint64_t> buffer(size / sizeof(uint64_t));
  auto* adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
  EXPECT_EQ(ERROR_SUCCESS, ::GetAdaptersAddresses(AF_UNSPEC, 0, nullptr,
                                                  adapters, &size));
  for (auto* adapter = adapters; adapter; adapter = adapter->Next) {
    for (auto* entry = adapter->FirstUnicastAddress; entry;
         entry = entry->Next) {
      const sockaddr* address = entry->Address.lpSockaddr;
      std::wostringstream text;
      if (address->sa_family == AF_INET) {
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
        const UCHAR* b = &ipv4->sin_addr.S_un.S_un_b.s_b1;
        text << +b[0] << L'.' << +b[1] << L'.' << +b[2] << L'.' << +b[3];
        servers.push_back(text.str());
        servers.push_back(std::to_wstring(
            (uint32_t{b[0]} << 24) | (b[1] << 16) | (b[2] << 8) | b[3]));
        continue;
      }
      const auto* ipv6 = reinterpret_cast<const sockaddr_in6*>(address);
      text << std::hex;
      for (int group = 0; group < 8; ++group) {
        text << (group ? L"-" : L"")
             << ((ipv6->sin6_addr.u.Byte[2 * group] << 8) |
                 ipv6->sin6_addr.u.Byte[2 * group + 1]);
      }
      constexpr wchar_t kDomain[] = L".ipv6-literal.net";
      servers.push_back(text.str() + kDomain);
      text << std::dec << L's' << ipv6->sin6_scope_id;
      servers.push_back(text.str() + kDomain);
    }
  }
  return servers;
}

// The same text in full-width letters, digits and signs.
std::wstring FullWidth(const std::wstring& text) {
  std::wstring wide = text;
  for (wchar_t& unit : wide)
    unit = unit > L' ' && unit < 0x7F ? unit - L'!' + 0xFF01 : unit;
  return wide;
}

// Each of this machine's names and addresses, in any case and reached any
// way, is no other machine's share. A numeric name is refused when the
// system cannot list its addresses; Wine lists them, so every address here
// is judged against the real list.
TEST(ServiceUtilsTest, InstallPathOnThisComputerIsRefused) {
  for (const std::wstring& server : ThisComputersServers()) {
    for (const std::wstring& path :
         {L"\\\\" + server + L"\\share\\x",
          L"\\\\?\\UNC\\" + server + L"\\DavWWWRoot\\x",
          L"\\\\" + server + L"$NOCSC$\\share\\x",
          L"\\\\" + FullWidth(server) + L"\\share\\x"}) {
      EXPECT_FALSE(IsValidInstallPath(FilePath(path), false)) << path;
    }
  }
}

// The longest folder leaves room for the longest name the run writes below
// it: a kept install log of a replaced version, "old_status\
// installation_status.xml.<10 digits>_<2 digits>" (48 characters).
TEST(ServiceUtilsTest, InstallPathLengthLimits) {
  auto path_of_length = [](size_t length) {
    return FilePath(L"C:\\" + std::wstring(length - 3, L'a'));
  };
  ASSERT_EQ(kMaxInstallPathLength, 210u);
  const struct {
    size_t length;
    bool short_limit;
    bool valid;
  } kCases[] = {
      {210, true, true},   {211, true, false}, {248, true, false},
      {211, false, true},  {259, false, true}, {260, false, false},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(testing::Message() << test.length << " " << test.short_limit);
    EXPECT_EQ(IsValidInstallPath(path_of_length(test.length), test.short_limit),
              test.valid);
  }
}

// A package's file, set aside beside itself as "<name>.<10 digits>_<2
// digits>.old", must fit below the folder too.
TEST(ServiceUtilsTest, PackageDepthLowersTheFolderLimit) {
  const struct {
    size_t deepest_file;
    size_t limit;
  } kCases[] = {
      // No deeper than the run's own names.
      {1, 210},
      {29, 210},
      // "45.0.2548.0\installer_helper_64.exe".
      {35, 205},
      // Too deep for any folder.
      {240, 0},
      {1000, 0},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.deepest_file);
    EXPECT_EQ(MaxInstallPathLengthFor(test.deepest_file), test.limit);
  }
}

// A DOS header with e_lfanew = `pe_offset`, then the PE signature and the
// machine at that offset when they fit into `size` bytes.
std::string MakeImage(size_t size, int32_t pe_offset, uint16_t machine) {
  std::string image(size, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  std::memcpy(&image[0x3C], &pe_offset, sizeof(pe_offset));
  if (pe_offset >= 0 && static_cast<size_t>(pe_offset) + 6 <= size) {
    std::memcpy(&image[pe_offset], "PE\0\0", 4);
    std::memcpy(&image[pe_offset + 4], &machine, sizeof(machine));
  }
  return image;
}

TEST(ServiceUtilsTest, ExecutableBitness) {
  const struct {
    const char* name;
    std::string bytes;
    bool is_image;
    bool is_64_bit;
  } kCases[] = {
      {"x86", MakeImage(0x200, 0x80, IMAGE_FILE_MACHINE_I386), true, false},
      {"x64", MakeImage(0x200, 0x80, IMAGE_FILE_MACHINE_AMD64), true, true},
      {"header at the very end", MakeImage(0x98, 0x80, 0x14C), true, false},
      {"header cut short", MakeImage(0x97, 0x80, 0x14C), false, false},
      {"offset beyond the end", MakeImage(0x200, 0x7FFFFFF0, 0x14C), false,
       false},
      {"negative offset", MakeImage(0x200, -8, 0x14C), false, false},
      {"offset inside the DOS header", MakeImage(0x200, 0x20, 0x14C), false,
       false},
      {"no PE signature", std::string("MZ") + std::string(0x1FE, '\0'), false,
       false},
      {"text", "just some text, not an image\r\n", false, false},
      {"empty", "", false, false},
  };
  base::ScopedTempFolder folder;
  base::ScopedLogCapture log;
  for (const auto& c : kCases) {
    const FilePath file = folder.path().AppendASCII(c.name);
    ASSERT_EQ(static_cast<int>(c.bytes.size()),
              base::WriteBufferToFile(file, c.bytes.data(),
                                      static_cast<int>(c.bytes.size())));
    bool is_64_bit = false;
    EXPECT_EQ(c.is_image, GetExecutableBitness(file, &is_64_bit)) << c.name;
    EXPECT_EQ(c.is_64_bit, is_64_bit) << c.name;
  }
  // Every header offset outside the file or inside the DOS header is
  // reported ("no PE signature" has the offset 0).
  EXPECT_EQ(5u, log.lines().size());
  bool is_64_bit = false;
  EXPECT_FALSE(
      GetExecutableBitness(folder.path().AppendASCII("missing"), &is_64_bit));
  FilePath test_program;
  ASSERT_TRUE(base::GetPathForKey(base::kExeFile, &test_program));
  EXPECT_TRUE(GetExecutableBitness(test_program, &is_64_bit));
  EXPECT_TRUE(is_64_bit);
}

TEST(ServiceUtilsTest, UserNames) {
  std::wstring logon_name;
  ASSERT_TRUE(GetCurrentUserName(&logon_name));
  EXPECT_FALSE(logon_name.empty());
  std::wstring qualified_name;
  constexpr int kDomainAndUser = 2;  // NameSamCompatible
  ASSERT_TRUE(GetUserNameEx(&qualified_name, kDomainAndUser));
  EXPECT_EQ(qualified_name.substr(qualified_name.find(L'\\') + 1), logon_name);
  // Wine maps no display name (1332); where there is one, it is not empty.
  std::wstring display_name;
  if (GetUserDisplayName(&display_name)) {
    EXPECT_FALSE(display_name.empty());
  }
}

TEST(ServiceUtilsTest, WineUserIsAdministrator) {
  // The Wine user is always an elevated administrator.
  EXPECT_TRUE(IsUserAdmin(false));
  EXPECT_TRUE(IsUserAdmin(true));
  EXPECT_FALSE(NeedsElevation(true, false));
}

bool g_asked_for_linked_token = true;
bool AnswerNotAdmin(bool check_linked_token) {
  g_asked_for_linked_token = check_linked_token;
  return false;
}

TEST(ServiceUtilsTest, NonAdministratorNeedsElevation) {
  // Stands in for a limited token, which a Wine process never has.
  AdminQuery previous = SetAdminQueryForTesting(&AnswerNotAdmin);
  EXPECT_TRUE(NeedsElevation(true, true));
  EXPECT_TRUE(NeedsElevation(true, false));
  EXPECT_TRUE(NeedsElevation(false, false));
  EXPECT_FALSE(NeedsElevation(false, true));
  EXPECT_FALSE(g_asked_for_linked_token);
  SetAdminQueryForTesting(previous);
  EXPECT_FALSE(NeedsElevation(true, false));
}

TEST(ServiceUtilsTest, KnownFolderPath) {
  FilePath roaming;
  ASSERT_TRUE(GetKnownFolderPath(FOLDERID_RoamingAppData, CSIDL_APPDATA,
                                 &roaming, false));
  FilePath expected;
  ASSERT_TRUE(base::GetPathForKey(base::kAppData, &expected));
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(expected, roaming));
  const GUID kUnknownFolder = {
      0x5c2b7a1e,
      0x33d4,
      0x4f0a,
      {0x9e, 0x61, 0x2b, 0x70, 0x1c, 0x3d, 0x8a, 0x44}};
  FilePath unknown;
  EXPECT_FALSE(GetKnownFolderPath(kUnknownFolder, 0x7F, &unknown, true));
}

// Real links, made by the shell's own link object, in a pins folder that the
// path service is pointed at.
class ShortcutMatchTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(com_.Succeeded());
    target_ = files_.path().Append(L"Tarvo.exe");
    other_ = files_.path().Append(L"Other.exe");
    same_file_ = files_.path().Append(L"SameFile.exe");
    ASSERT_EQ(2, base::WriteBufferToFile(target_, "MZ", 2));
    ASSERT_EQ(2, base::WriteBufferToFile(other_, "MZ", 2));
    ASSERT_TRUE(::CreateHardLinkW(same_file_.value().c_str(),
                                  target_.value().c_str(), nullptr));
    ASSERT_TRUE(GetFileInformation(target_, &target_information_));
    ASSERT_TRUE(base::GetPathForKey(base::kTaskbarPins, &real_pins_));
    ASSERT_TRUE(
        base::SetPathOverride(base::kTaskbarPins, pins_.path(), true, false));
  }
  void TearDown() override {
    base::SetPathOverride(base::kTaskbarPins, real_pins_, true, false);
  }

  void MakeLink(const wchar_t* name, const FilePath& link_target) {
    base::win::ShortcutProperties properties;
    properties.set_target(link_target);
    ASSERT_TRUE(
        base::win::CreateOrUpdateShortcut(pins_.path().Append(name), properties,
                                          base::win::kShortcutCreateAlways));
  }

  std::vector<std::wstring> FindPinNames(
      const BY_HANDLE_FILE_INFORMATION* information) {
    std::vector<FilePath> pins;
    FindTaskbarPins(target_, information, &pins);
    std::vector<std::wstring> names;
    for (const FilePath& pin : pins)
      names.push_back(pin.BaseName().value());
    std::sort(names.begin(), names.end());
    return names;
  }

  base::win::ScopedCOMInitializer com_;
  base::ScopedTempFolder files_;
  base::ScopedTempFolder pins_;
  FilePath target_, other_, same_file_, real_pins_;
  BY_HANDLE_FILE_INFORMATION target_information_ = {};
};

TEST_F(ShortcutMatchTest, TestShortcutMatchesByNameOrIdentity) {
  MakeLink(L"a.lnk", target_);
  MakeLink(L"b.lnk", other_);
  MakeLink(L"c.lnk", same_file_);
  const FilePath a = pins_.path().Append(L"a.lnk");
  const FilePath b = pins_.path().Append(L"b.lnk");
  const FilePath c = pins_.path().Append(L"c.lnk");
  const FilePath shouting = target_.DirName().Append(L"TARVO.EXE");
  EXPECT_TRUE(TestShortcut(a, shouting, nullptr));
  EXPECT_FALSE(TestShortcut(b, target_, &target_information_));
  EXPECT_FALSE(TestShortcut(c, target_, nullptr));
  EXPECT_TRUE(TestShortcut(c, target_, &target_information_));
  EXPECT_FALSE(TestShortcut(pins_.path().Append(L"missing.lnk"), target_,
                            &target_information_));
  EXPECT_FALSE(TestShortcut(target_, target_, &target_information_));
}

TEST_F(ShortcutMatchTest, FindTaskbarPinsSkipsWhatDoesNotResolve) {
  MakeLink(L"a.lnk", target_);
  MakeLink(L"b.lnk", other_);
  MakeLink(L"c.lnk", same_file_);
  MakeLink(L"d.txt", target_);  // Not a "*.lnk" name.
  const FilePath broken = pins_.path().Append(L"broken.lnk");
  ASSERT_EQ(4, base::WriteBufferToFile(broken, "junk", 4));

  base::ScopedLogCapture log;
  EXPECT_EQ((std::vector<std::wstring>{L"a.lnk", L"c.lnk"}),
            FindPinNames(&target_information_));
  EXPECT_EQ(std::vector<std::wstring>{L"a.lnk"}, FindPinNames(nullptr));
  const std::string logged = "Couldn't resolve shortcut at " + broken.AsUTF8();
  EXPECT_EQ(2, std::count(log.lines().begin(), log.lines().end(), logged));
}

TEST_F(ShortcutMatchTest, FindTaskbarPinsWithoutPinsFolder) {
  ASSERT_TRUE(base::SetPathOverride(
      base::kTaskbarPins, pins_.path().Append(L"missing"), true, false));
  base::ScopedLogCapture log;
  EXPECT_TRUE(FindPinNames(&target_information_).empty());
  EXPECT_EQ(std::vector<std::string>{"Couldn't find path to taskbar pins."},
            log.lines());
}

}  // namespace
}  // namespace installer
