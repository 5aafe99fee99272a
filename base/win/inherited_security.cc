#include "base/win/inherited_security.h"

#include <algorithm>
#include <cstddef>

#include "base/win/scoped_handle.h"

namespace base::win {

namespace {

constexpr BYTE kInheritanceFlags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE |
                                   NO_PROPAGATE_INHERIT_ACE | INHERIT_ONLY_ACE;
constexpr BYTE kPassedOnFlags = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

using Bytes = std::vector<unsigned char>;

// The parts of a descriptor; null where it has none.
struct Parts {
  PSID owner = nullptr;
  PSID group = nullptr;
  ACL* dacl = nullptr;
};

bool ReadParts(const Bytes& descriptor, Parts* parts) {
  if (descriptor.empty())
    return false;
  auto* data = const_cast<unsigned char*>(descriptor.data());
  BOOL defaulted = FALSE;
  BOOL present = FALSE;
  return ::IsValidSecurityDescriptor(data) &&
         ::GetSecurityDescriptorOwner(data, &parts->owner, &defaulted) &&
         ::GetSecurityDescriptorGroup(data, &parts->group, &defaulted) &&
         ::GetSecurityDescriptorDacl(data, &present, &parts->dacl, &defaulted);
}

Bytes TokenPart(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
  DWORD size = 0;
  ::GetTokenInformation(token, kind, nullptr, 0, &size);
  Bytes part(size);
  if (size == 0 ||
      !::GetTokenInformation(token, kind, part.data(), size, &size)) {
    return {};
  }
  return part;
}

Bytes SelfRelative(PSID owner, PSID group, ACL* dacl, bool inherited) {
  SECURITY_DESCRIPTOR absolute;
  if (!::InitializeSecurityDescriptor(&absolute,
                                      SECURITY_DESCRIPTOR_REVISION) ||
      !::SetSecurityDescriptorOwner(&absolute, owner, FALSE) ||
      !::SetSecurityDescriptorGroup(&absolute, group, FALSE) ||
      !::SetSecurityDescriptorDacl(&absolute, dacl != nullptr, dacl, FALSE) ||
      (inherited &&
       !::SetSecurityDescriptorControl(&absolute, SE_DACL_AUTO_INHERITED,
                                       SE_DACL_AUTO_INHERITED))) {
    return {};
  }
  DWORD length = 0;
  ::MakeSelfRelativeSD(&absolute, nullptr, &length);
  Bytes relative(length);
  if (length == 0 ||
      !::MakeSelfRelativeSD(&absolute, relative.data(), &length)) {
    return {};
  }
  return relative;
}

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
  return ::IsValidSid(sid) && ::IsWellKnownSid(sid, type);
}

// Whether the entry's rights and trustee are the kinds that carry one
// meaning in an entry that only passes on and another where it applies:
// only the first two entry kinds have them where this looks.
bool HasAccessEntryLayout(BYTE type) {
  return type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_DENIED_ACE_TYPE;
}

// `ace` with `flags`; where it applies, its generic rights mapped and a
// creator's trustee replaced by `creator`'s owner or group.
Bytes CopyEntry(const ACE_HEADER* ace,
                BYTE flags,
                bool applied,
                const Parts& creator) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(ace);
  if (!applied || !HasAccessEntryLayout(ace->AceType)) {
    Bytes copy(bytes, bytes + ace->AceSize);
    reinterpret_cast<ACE_HEADER*>(copy.data())->AceFlags = flags;
    return copy;
  }
  const auto* access = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(ace);
  PSID sid = const_cast<DWORD*>(&access->SidStart);
  if (IsWellKnown(sid, WinCreatorOwnerSid))
    sid = creator.owner;
  else if (IsWellKnown(sid, WinCreatorGroupSid))
    sid = creator.group;
  const DWORD sid_size = ::GetLengthSid(sid);
  const size_t size = offsetof(ACCESS_ALLOWED_ACE, SidStart) + sid_size;
  Bytes copy(size);
  auto* made = reinterpret_cast<ACCESS_ALLOWED_ACE*>(copy.data());
  made->Header = access->Header;
  made->Header.AceFlags = flags;
  made->Header.AceSize = static_cast<WORD>(size);
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE,
                             FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  made->Mask = access->Mask;
  ::MapGenericMask(&made->Mask, &mapping);
  ::CopySid(sid_size, &made->SidStart, sid);
  return copy;
}

bool ChangesWhereApplied(const ACE_HEADER* ace) {
  if (!HasAccessEntryLayout(ace->AceType))
    return false;
  const auto* access = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(ace);
  PSID sid = const_cast<DWORD*>(&access->SidStart);
  return (access->Mask & (GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE |
                          GENERIC_ALL)) != 0 ||
         IsWellKnown(sid, WinCreatorOwnerSid) ||
         IsWellKnown(sid, WinCreatorGroupSid);
}

// The entries `ace` of the parent's list gives a new entry of its kind.
void InheritEntry(const ACE_HEADER* ace,
                  bool folder,
                  const Parts& creator,
                  std::vector<Bytes>* entries) {
  const BYTE flags = ace->AceFlags;
  const bool no_propagate = (flags & NO_PROPAGATE_INHERIT_ACE) != 0;
  // A folder is given what passes on to folders, and what passes on to
  // files, to hand it down to its own files.
  const bool applies = folder ? (flags & CONTAINER_INHERIT_ACE) != 0
                              : (flags & OBJECT_INHERIT_ACE) != 0;
  const bool passes_on =
      folder && !no_propagate && (flags & kPassedOnFlags) != 0;
  const BYTE kept = (flags & ~kInheritanceFlags) | INHERITED_ACE;
  if (applies && passes_on && ChangesWhereApplied(ace)) {
    entries->push_back(CopyEntry(ace, kept, /*applied=*/true, creator));
    entries->push_back(
        CopyEntry(ace, kept | (flags & kPassedOnFlags) | INHERIT_ONLY_ACE,
                  /*applied=*/false, creator));
  } else if (applies) {
    entries->push_back(
        CopyEntry(ace, kept | (passes_on ? flags & kPassedOnFlags : 0),
                  /*applied=*/true, creator));
  } else if (passes_on) {
    entries->push_back(
        CopyEntry(ace, kept | (flags & kPassedOnFlags) | INHERIT_ONLY_ACE,
                  /*applied=*/false, creator));
  }
}

}  // namespace

Bytes ReadCreatorSecurity() {
  HANDLE raw_token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw_token))
    return {};
  const ScopedHandle token(raw_token);
  const Bytes owner = TokenPart(token.Get(), TokenOwner);
  const Bytes group = TokenPart(token.Get(), TokenPrimaryGroup);
  const Bytes dacl = TokenPart(token.Get(), TokenDefaultDacl);
  if (owner.empty() || group.empty() || dacl.empty())
    return {};
  return SelfRelative(
      reinterpret_cast<const TOKEN_OWNER*>(owner.data())->Owner,
      reinterpret_cast<const TOKEN_PRIMARY_GROUP*>(group.data())->PrimaryGroup,
      reinterpret_cast<const TOKEN_DEFAULT_DACL*>(dacl.data())->DefaultDacl,
      /*inherited=*/false);
}

Bytes InheritedSecurity(const Bytes& parent,
                        bool folder,
                        const Bytes& creator) {
  Parts from;
  Parts by;
  if (!ReadParts(parent, &from) || !ReadParts(creator, &by) || !by.owner ||
      !by.group) {
    ::SetLastError(ERROR_INVALID_SECURITY_DESCR);
    return {};
  }
  std::vector<Bytes> entries;
  for (DWORD index = 0; from.dacl && index < from.dacl->AceCount; ++index) {
    void* ace = nullptr;
    if (!::GetAce(from.dacl, index, &ace))
      return {};
    InheritEntry(static_cast<const ACE_HEADER*>(ace), folder, by, &entries);
  }
  if (entries.empty())
    return SelfRelative(by.owner, by.group, by.dacl, /*inherited=*/false);
  size_t size = sizeof(ACL);
  for (const Bytes& entry : entries)
    size += entry.size();
  std::vector<DWORD> list((size + sizeof(DWORD) - 1) / sizeof(DWORD));
  auto* dacl = reinterpret_cast<ACL*>(list.data());
  if (!::InitializeAcl(dacl, static_cast<DWORD>(size),
                       std::max<DWORD>(from.dacl->AclRevision, ACL_REVISION))) {
    return {};
  }
  for (Bytes& entry : entries) {
    if (!::AddAce(dacl, dacl->AclRevision, MAXDWORD, entry.data(),
                  static_cast<DWORD>(entry.size()))) {
      return {};
    }
  }
  return SelfRelative(by.owner, by.group, dacl, /*inherited=*/true);
}

}  // namespace base::win
