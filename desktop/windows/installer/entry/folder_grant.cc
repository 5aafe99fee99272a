#include "desktop/windows/installer/entry/folder_grant.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <utility>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/final_path.h"
#include "base/logging.h"
#include "base/strings/string_split.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/access_list.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/entry/folder_grant_check.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/system/machine_install_record.h"

namespace installer {

namespace {

using base::win::ScopedHandle;

// Folders above the granted one: held only, never read or written.
constexpr DWORD kHeldFolderAccess = FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kGrantedFolderAccess = FILE_READ_ATTRIBUTES |
                                       FILE_LIST_DIRECTORY | READ_CONTROL |
                                       WRITE_DAC | SYNCHRONIZE;
constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The trustee as the account database knows it.
struct Account {
  std::vector<BYTE> sid;
  SID_NAME_USE use = SidTypeUnknown;
};

std::wstring SidText(PSID sid) {
  base::win::ScopedLocalAlloc<wchar_t> text;
  if (!::ConvertSidToStringSidW(sid, text.Receive()))
    return std::wstring();
  return text.Get();
}

bool LookUpAccount(const std::wstring& trustee, Account* account) {
  // The installer names the user by SID: a bare logon name can resolve to
  // another account (a domain user and a local one of the same name).
  base::win::ScopedLocalAlloc<void> given;
  wchar_t name[256];
  wchar_t domain[256];
  DWORD name_size = std::size(name);
  DWORD domain_size = std::size(domain);
  if (::ConvertStringSidToSidW(trustee.c_str(), given.Receive())) {
    account->sid.assign(
        static_cast<const BYTE*>(given.Get()),
        static_cast<const BYTE*>(given.Get()) + ::GetLengthSid(given.Get()));
    if (::LookupAccountSidW(nullptr, given.Get(), name, &name_size, domain,
                            &domain_size, &account->use)) {
      return true;
    }
  } else {
    DWORD sid_size = SECURITY_MAX_SID_SIZE;
    account->sid.resize(sid_size);
    if (::LookupAccountNameW(nullptr, trustee.c_str(), account->sid.data(),
                             &sid_size, domain, &domain_size, &account->use)) {
      return true;
    }
  }
  PLOG(ERROR) << "Cannot look up the account " << base::WideToUtf8(trustee);
  return false;
}

// Opens `path` itself, never what a link there points at, shared with
// readers and writers but not with a rename or a deletion.
ScopedHandle OpenWithoutFollowing(const base::FilePath& path, DWORD access) {
  return ScopedHandle(::CreateFileW(
      path.value().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr));
}

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A folder that is no link: the handle says so on Windows; Wine opens the
// target even so and shows the link only in the attributes of its name.
GrantRefusal JudgeOpenedFolder(HANDLE handle, const base::FilePath& path) {
  FILE_ATTRIBUTE_TAG_INFO info = {};
  if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info,
                                      sizeof(info))) {
    PLOG(ERROR) << "Cannot read the attributes of " << path.AsUTF8();
    return GrantRefusal::kUnreadable;
  }
  const DWORD by_name = ::GetFileAttributesW(path.value().c_str());
  if ((info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      (by_name != INVALID_FILE_ATTRIBUTES &&
       (by_name & FILE_ATTRIBUTE_REPARSE_POINT))) {
    return GrantRefusal::kLink;
  }
  if (!(info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return GrantRefusal::kNotLocalPath;
  return GrantRefusal::kNone;
}

// Opens and holds each folder of `resolved` below its drive's root, from
// the top down, each judged before the next is opened through it; with
// `create`, makes the missing ones. The last handle is the folder's own.
GrantRefusal HoldFolderChain(const base::FilePath& resolved,
                             bool create,
                             std::vector<ScopedHandle>* chain) {
  // A resolved name: "X:\" and components split by single separators.
  const std::vector<std::wstring> components =
      base::SplitWideString(resolved.value().substr(3), L"\\",
                            base::KEEP_WHITESPACE, base::SPLIT_WANT_NONEMPTY);
  base::FilePath path(resolved.value().substr(0, 3));
  for (size_t i = 0; i < components.size(); ++i) {
    path = path.Append(components[i]);
    const DWORD access =
        i + 1 == components.size() ? kGrantedFolderAccess : kHeldFolderAccess;
    ScopedHandle folder = OpenWithoutFollowing(path, access);
    if (!folder.IsValid() && create && IsMissing(::GetLastError())) {
      // Its parent is held: the new folder is made where it was judged.
      if (!::CreateDirectoryW(path.value().c_str(), nullptr) &&
          ::GetLastError() != ERROR_ALREADY_EXISTS) {
        PLOG(ERROR) << "Cannot create " << path.AsUTF8();
        return GrantRefusal::kUnreadable;
      }
      folder = OpenWithoutFollowing(path, access);
    }
    if (!folder.IsValid()) {
      PLOG(ERROR) << "Cannot open " << path.AsUTF8();
      return GrantRefusal::kUnreadable;
    }
    const GrantRefusal refusal = JudgeOpenedFolder(folder.Get(), path);
    if (refusal != GrantRefusal::kNone)
      return refusal;
    chain->push_back(std::move(folder));
  }
  return chain->empty() ? GrantRefusal::kDriveRoot : GrantRefusal::kNone;
}

// Where the handle opened by `name` leads, in the same spelling as a
// resolved name: a link anywhere on the way makes the two differ.
base::FilePath FinalPath(HANDLE handle, const base::FilePath& name) {
  const std::wstring final_path = base::GetFinalPath(handle, name.value());
  if (final_path.empty())
    return base::FilePath();
  return ResolveLocalPath(base::FilePath(final_path));
}

constexpr int kEveryEntry =
    base::FileEnumerator::kFiles | base::FileEnumerator::kDirectories;

// The entries directly in `folder`.
bool ListFolder(const base::FilePath& folder,
                std::vector<FolderGrantCheck::Entry>* entries) {
  base::FileEnumerator listing(folder, false, kEveryEntry,
                               base::WideStringSlice());
  for (base::FilePath path = listing.Next(); !path.empty();
       path = listing.Next()) {
    entries->push_back(
        {path.BaseName().value(), listing.GetInfo().dwFileAttributes});
  }
  if (listing.error() != ERROR_SUCCESS) {
    LOG(ERROR) << "Cannot list " << folder.AsUTF8() << ", error "
               << listing.error();
    return false;
  }
  return true;
}

// Whether the file has a name outside the folder too: the grant written
// to its access list would reach it there.
GrantRefusal JudgeFileLinks(const base::FilePath& file) {
  // Attributes only: no sharing mode of another opener turns this away.
  const ScopedHandle handle(::CreateFileW(
      file.value().c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr));
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!handle.IsValid() ||
      !::GetFileInformationByHandle(handle.Get(), &information)) {
    PLOG(ERROR) << "Cannot read the links of " << file.AsUTF8();
    return GrantRefusal::kUnreadable;
  }
  if (information.nNumberOfLinks > 1) {
    LOG(ERROR) << file.AsUTF8() << " has " << information.nNumberOfLinks
               << " names";
    return GrantRefusal::kHardLink;
  }
  return GrantRefusal::kNone;
}

// The grant passes on to everything below the folder: nothing there may
// lead out of it, by a link or by a file's second name. The listing never
// enters a link.
GrantRefusal JudgeTree(const base::FilePath& folder) {
  base::FileEnumerator listing(folder, kEveryEntry);
  for (base::FilePath path = listing.Next(); !path.empty();
       path = listing.Next()) {
    const DWORD attributes = listing.GetInfo().dwFileAttributes;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
      return GrantRefusal::kLink;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      const GrantRefusal refusal = JudgeFileLinks(path);
      if (refusal != GrantRefusal::kNone)
        return refusal;
    }
  }
  if (listing.error() != ERROR_SUCCESS) {
    LOG(ERROR) << "Cannot list " << folder.AsUTF8() << ", error "
               << listing.error();
    return GrantRefusal::kUnreadable;
  }
  return GrantRefusal::kNone;
}

GrantRefusal JudgeFolder(const base::FilePath& folder) {
  std::vector<FolderGrantCheck::Entry> entries;
  if (!ListFolder(folder, &entries))
    return GrantRefusal::kUnreadable;
  const GrantRefusal refusal = FolderGrantCheck::JudgeContents(
      entries, MachineInstallRecord::Read().Names(folder));
  return refusal != GrantRefusal::kNone ? refusal : JudgeTree(folder);
}

// Holds the folder named `resolved` as HoldFolderChain does, and checks that
// the handle leads to that very folder.
GrantRefusal HoldFolder(const base::FilePath& resolved,
                        bool create,
                        std::vector<ScopedHandle>* chain) {
  const GrantRefusal refusal = HoldFolderChain(resolved, create, chain);
  if (refusal != GrantRefusal::kNone)
    return refusal;
  const base::FilePath final_path = FinalPath(chain->back().Get(), resolved);
  if (final_path.empty())
    return GrantRefusal::kUnreadable;
  if (ToUpperOrdinal(final_path.value()) != ToUpperOrdinal(resolved.value())) {
    LOG(ERROR) << resolved.AsUTF8() << " leads to " << final_path.AsUTF8();
    return GrantRefusal::kLink;
  }
  return GrantRefusal::kNone;
}

// The granted folder held for its undo: opened again through the grant's
// own handle, never by name, with the grant's rights but shared with a
// removal or a rename, so that the installation the grant is for may still
// remove the folder it made (the undo follows the folder, not its name).
// The grant's own handle when that fails: it keeps the folder from being
// removed meanwhile, but serves the undo as well.
ScopedHandle HoldForUndo(ScopedHandle granted) {
  ScopedHandle reopened(::ReOpenFile(granted.Get(), kGrantedFolderAccess,
                                     kShareAll, FILE_FLAG_BACKUP_SEMANTICS));
  if (reopened.IsValid())
    return reopened;
  PLOG(WARNING) << "Holding the granted folder as it was opened";
  return granted;
}

}  // namespace

FolderGrant::FolderGrant(const base::FilePath& folder,
                         const std::wstring& trustee)
    : folder_(folder), trustee_(trustee) {}

FolderGrant::~FolderGrant() = default;

bool FolderGrant::Grant() {
  const base::FilePath resolved = ResolveLocalPath(folder_);
  Account account;
  GrantRefusal refusal = GrantRefusal::kTrusteeNotOneUser;
  std::vector<ScopedHandle> chain;
  if (LookUpAccount(trustee_, &account))
    refusal = FolderGrantCheck::JudgeTrustee(account.sid.data(), account.use);
  if (refusal == GrantRefusal::kNone) {
    refusal = FolderGrantCheck::ForThisSystem(SidText(account.sid.data()))
                  .JudgePath(resolved);
  }
  if (refusal == GrantRefusal::kNone)
    refusal = HoldFolder(resolved, true, &chain);
  if (refusal == GrantRefusal::kNone)
    refusal = JudgeFolder(resolved);
  if (refusal != GrantRefusal::kNone) {
    LOG(ERROR) << "Not granting access to " << folder_.AsUTF8() << " for "
               << base::WideToUtf8(trustee_) << ": "
               << FolderGrantCheck::Describe(refusal);
    return false;
  }

  const HANDLE folder = chain.back().Get();
  DWORD error = ::GetSecurityInfo(
      folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
      &old_dacl_, nullptr, old_descriptor_.Receive());
  const base::win::ScopedLocalAlloc<ACL> new_dacl =
      error == ERROR_SUCCESS ? base::win::AddAccessAllowedEntry(
                                   old_dacl_, account.sid.data(), GENERIC_ALL,
                                   SUB_CONTAINERS_AND_OBJECTS_INHERIT)
                             : base::win::ScopedLocalAlloc<ACL>();
  if (new_dacl) {
    error = ::SetSecurityInfo(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, new_dacl.Get(), nullptr);
  }
  if (error != ERROR_SUCCESS || !new_dacl) {
    LOG(ERROR) << "Cannot grant access to " << resolved.AsUTF8() << ", error "
               << error;
    return false;
  }
  LOG(INFO) << "Granted full access to " << resolved.AsUTF8() << " for "
            << base::WideToUtf8(trustee_);
  granted_ = resolved;
  granted_folder_ = HoldForUndo(std::move(chain.back()));
  return true;
}

void FolderGrant::Undo() {
  if (!granted_folder_.IsValid())
    return;
  const DWORD error = ::SetSecurityInfo(granted_folder_.Get(), SE_FILE_OBJECT,
                                        DACL_SECURITY_INFORMATION, nullptr,
                                        nullptr, old_dacl_, nullptr);
  if (error != ERROR_SUCCESS) {
    LOG(ERROR) << "Cannot put back the access list of " << granted_.AsUTF8()
               << ", error " << error;
    return;
  }
  // Where it went, if it was moved while granted: its undo went with it.
  const base::FilePath now = FinalPath(granted_folder_.Get(), granted_);
  const bool moved = !now.empty() && ToUpperOrdinal(now.value()) !=
                                         ToUpperOrdinal(granted_.value());
  LOG(INFO) << "Put back the access list of " << granted_.AsUTF8()
            << (moved ? ", now at " + now.AsUTF8() : std::string());
  granted_folder_.Close();
}

}  // namespace installer
