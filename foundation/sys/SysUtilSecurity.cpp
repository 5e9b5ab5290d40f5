// Everyone full-access security attributes and the creators that use them.
#include <aclapi.h>

#include <memory>

#include "foundation/log/Logger.h"
#include "foundation/sys/SysUtil.h"

IAccessSecurityAttributes::IAccessSecurityAttributes() {
  attributes_.nLength = sizeof(attributes_);
  attributes_.lpSecurityDescriptor = nullptr;
  attributes_.bInheritHandle = FALSE;
}

IAccessSecurityAttributes::~IAccessSecurityAttributes() {
  if (sid_) FreeSid(sid_);
  if (descriptor_) LocalFree(descriptor_);
  if (acl_) LocalFree(acl_);
}

int EveryoneAccessSecurityAttributes::Init() {
  ZtLogger& log = ZtLogger::Instance();
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &sid_)) {
    sid_ = nullptr;
    log.Error("ESA: AllocateAndInitializeSid failed, error %d", static_cast<int>(GetLastError()));
    return 0;
  }

  EXPLICIT_ACCESSW access = {};
  access.grfAccessPermissions = 0x1FFFFF;  // every standard and specific right
  access.grfAccessMode = SET_ACCESS;
  access.grfInheritance = NO_INHERITANCE;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  access.Trustee.ptstrName = static_cast<LPWSTR>(sid_);
  DWORD r = SetEntriesInAclW(1, &access, nullptr, &acl_);
  if (r != ERROR_SUCCESS) {
    acl_ = nullptr;
    log.Error("ESA: SetEntriesInAcl failed, error %d", static_cast<int>(r));
    return 0;
  }

  descriptor_ = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
  if (!descriptor_) {
    log.Error("ESA: LocalAlloc failed is NULL");
    return 0;
  }
  if (!InitializeSecurityDescriptor(descriptor_, SECURITY_DESCRIPTOR_REVISION)) {
    log.Error("ESA: InitializeSecurityDescriptor failed: error %d",
              static_cast<int>(GetLastError()));
    return 0;
  }
  if (!SetSecurityDescriptorDacl(descriptor_, TRUE, acl_, FALSE)) {
    log.Error("ESA: SetSecurityDescriptorDacl failed: error %d", static_cast<int>(GetLastError()));
    return 0;
  }
  attributes_.nLength = sizeof(attributes_);
  attributes_.lpSecurityDescriptor = descriptor_;
  attributes_.bInheritHandle = FALSE;
  return 1;
}

int CreateFileWithSA(const wchar_t* path) {
  auto sa = std::make_unique<EveryoneAccessSecurityAttributes>();
  if (sa->Init() != 1) {
    ZtLogger::Instance().Error("ESA File: pSA->Init failed.");
    return 0;
  }
  HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            sa->Get(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ZtLogger::Instance().Error("ESA File: CreateFile failed: %d", static_cast<int>(GetLastError()));
    return 0;
  }
  CloseHandle(file);
  return 1;
}

int CreateFolderWithSA(const wchar_t* path) {
  auto sa = std::make_unique<EveryoneAccessSecurityAttributes>();
  if (sa->Init() != 1) {
    ZtLogger::Instance().Error("ESA Folder: pSA->Init failed.");
    return 0;
  }
  if (!CreateDirectoryW(path, sa->Get())) {
    ZtLogger::Instance().Error("ESA Folder: CreateFile failed: %d",
                               static_cast<int>(GetLastError()));
    return 0;
  }
  return 1;
}

HANDLE CreateEventWithSA(const wchar_t* name) {
  auto sa = std::make_unique<EveryoneAccessSecurityAttributes>();
  if (sa->Init() != 1) {
    ZtLogger::Instance().Error("ESA Event: pSA->Init failed.");
    return nullptr;
  }
  // The last error of CreateEventW (ERROR_ALREADY_EXISTS) must survive the
  // clean-up for the caller's single-instance test.
  HANDLE event = CreateEventW(sa->Get(), FALSE, FALSE, name);
  DWORD err = GetLastError();
  sa.reset();
  SetLastError(err);
  return event;
}
