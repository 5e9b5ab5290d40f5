#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <utility>

#include "classlib/Handle.h"

namespace {

bool HandleOpen(HANDLE h) {
  DWORD flags;
  return GetHandleInformation(h, &flags) != FALSE;
}

bool KeyOpen(HKEY k) {
  return RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool SocketOpen(SOCKET s) {
  int type = 0;
  int len = sizeof(type);
  return getsockopt(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &len) == 0;
}

TEST(UniqueHandleTest, ClosesOnResetAndDestructionNotOnRelease) {
  HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  {
    cl::UniqueHandle h(raw);
    ASSERT_TRUE(h.valid());
    cl::UniqueHandle moved(std::move(h));
    EXPECT_FALSE(h.valid());
    EXPECT_EQ(raw, moved.get());
    EXPECT_TRUE(HandleOpen(raw));
  }
  EXPECT_FALSE(HandleOpen(raw));

  raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  cl::UniqueHandle kept(raw);
  EXPECT_EQ(raw, kept.release());
  kept.reset();
  EXPECT_TRUE(HandleOpen(raw));
  kept.reset(raw);
  kept.reset(INVALID_HANDLE_VALUE);  // closes the event, owns nothing
  EXPECT_FALSE(HandleOpen(raw));
  EXPECT_FALSE(kept.valid());
}

TEST(UniqueHKeyTest, PutFillsTheOwnerAndResetCloses) {
  const wchar_t* path = L"Software\\TessarineTest\\UniqueHKey";
  cl::UniqueHKey key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, key.put(), nullptr));
  const HKEY raw = key.get();
  EXPECT_TRUE(KeyOpen(raw));
  key.reset();
  EXPECT_FALSE(KeyOpen(raw));
  RegDeleteKeyW(HKEY_CURRENT_USER, path);
}

TEST(UniqueSocketTest, ClosesTheSocket) {
  WSADATA wsa;
  ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &wsa));
  SOCKET raw = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  ASSERT_NE(INVALID_SOCKET, raw);
  {
    cl::UniqueSocket s(raw);
    EXPECT_TRUE(SocketOpen(raw));
  }
  EXPECT_FALSE(SocketOpen(raw));
  EXPECT_EQ(WSAENOTSOCK, WSAGetLastError());
  WSACleanup();
}

TEST(UniqueModuleTest, FreesTheLibrary) {
  const wchar_t* name = L"msimg32.dll";
  if (GetModuleHandleW(name)) GTEST_SKIP() << "already loaded by the process";
  {
    cl::UniqueModule lib(LoadLibraryW(name));
    ASSERT_TRUE(lib.valid());
    EXPECT_NE(nullptr, GetProcAddress(lib.get(), "AlphaBlend"));
  }
  EXPECT_EQ(nullptr, GetModuleHandleW(name));
}

}  // namespace
