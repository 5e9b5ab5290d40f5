#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "foundation/registry/Registry.h"

namespace {

// Everything a test writes lives under this key (in the build's own Wine
// prefix) and is deleted afterwards.
const wchar_t kTestRoot[] = L"Software\\TessarineTest";

std::wstring TestKey(const wchar_t* leaf) {
  return std::wstring(kTestRoot) + L"\\Registry_" + std::to_wstring(GetCurrentProcessId()) + L"\\" +
         leaf;
}

bool RootHasValue(HKEY root, const wchar_t* name) {
  return RegQueryValueExW(root, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

void SetRaw(HKEY root, const std::wstring& key, const wchar_t* name, DWORD type, const void* data,
            DWORD bytes) {
  HKEY k;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &k, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(k, name, 0, type, static_cast<const BYTE*>(data), bytes));
  RegCloseKey(k);
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { Clean(); }
  void TearDown() override { Clean(); }
  static void Clean() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kTestRoot);
    RegDeleteKeyW(HKEY_CURRENT_USER, kTestRoot);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTestRoot);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kTestRoot);
  }
};

TEST_F(RegistryTest, TypedValuesRoundTrip) {
  const std::wstring key = TestKey(L"Values");
  {
    CRegistry reg;
    ASSERT_TRUE(reg.OpenKey(key.c_str(), TRUE));
    EXPECT_TRUE(reg.WriteDword(L"dw", 0xDEADBEEF));
    EXPECT_TRUE(reg.WriteIntBinary(L"bin4", -2));
    EXPECT_TRUE(reg.WriteString(L"text", L"Gr\u00fc\u00dfe"));
    const BYTE blob[5] = {1, 2, 3, 0, 5};
    EXPECT_TRUE(reg.WriteBinary(L"blob", blob, sizeof(blob)));
    EXPECT_FALSE(reg.WriteBinary(nullptr, blob, sizeof(blob)));
  }
  CRegistry reg;
  ASSERT_TRUE(reg.OpenKey(key.c_str(), FALSE));
  EXPECT_EQ(key, reg.keyPath);
  EXPECT_EQ(0xDEADBEEFu, reg.ReadDword(L"dw", 7));
  EXPECT_EQ(-2, reg.ReadIntBinary(L"bin4", 7));
  // Both integer encodings read alike through either getter.
  EXPECT_EQ(static_cast<int>(0xDEADBEEF), reg.ReadIntBinary(L"dw", 7));
  EXPECT_EQ(0xFFFFFFFEu, reg.ReadDword(L"bin4", 7));
  EXPECT_EQ(L"Gr\u00fc\u00dfe", reg.ReadString(L"text", L"def"));
  EXPECT_EQ("Gr\xc3\xbc\xc3\x9f" "e", reg.ReadStringUtf8(L"text"));

  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), reg.GetValueType(L"dw"));
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), reg.GetValueType(L"bin4"));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), reg.GetValueType(L"text"));
  EXPECT_EQ(0u, reg.GetValueType(L"missing"));

  BYTE* data = nullptr;
  DWORD size = 0;
  ASSERT_TRUE(reg.ReadBinary(L"blob", &data, &size));
  ASSERT_EQ(5u, size);
  EXPECT_EQ(5, data[4]);
  delete[] data;
  EXPECT_FALSE(reg.ReadBinary(L"missing", &data, &size));
  EXPECT_EQ(nullptr, data);
  EXPECT_EQ(0u, size);

  // Stored forms: 4 little-endian bytes for the binary integer, the NUL
  // included for the string.
  BYTE raw[16];
  DWORD type = 0, bytes = sizeof(raw);
  HKEY k;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &k));
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(k, L"bin4", nullptr, &type, raw, &bytes));
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
  ASSERT_EQ(4u, bytes);
  EXPECT_EQ(0xFE, raw[0]);
  EXPECT_EQ(0xFF, raw[3]);
  bytes = sizeof(raw);
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(k, L"text", nullptr, &type, raw, &bytes));
  EXPECT_EQ(12u, bytes);
  RegCloseKey(k);

  EXPECT_TRUE(reg.ValueExists(L"dw"));
  // Deleting needs write access: the key was opened read-only by this accessor
  // but every operation opens its own handle with the access it needs.
  EXPECT_TRUE(reg.DeleteValue(L"dw"));
  EXPECT_FALSE(reg.ValueExists(L"dw"));
  EXPECT_FALSE(reg.DeleteValue(L"dw"));
}

TEST_F(RegistryTest, ReadsFallBackToDefaults) {
  const std::wstring key = TestKey(L"Defaults");
  const DWORD dword = 5;
  SetRaw(HKEY_CURRENT_USER, key, L"dword", REG_DWORD, &dword, 4);
  const BYTE two[2] = {0x34, 0x12};
  SetRaw(HKEY_CURRENT_USER, key, L"two", REG_BINARY, two, 2);
  const BYTE eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  SetRaw(HKEY_CURRENT_USER, key, L"eight", REG_BINARY, eight, 8);
  std::wstring longText(2000, L'x');
  SetRaw(HKEY_CURRENT_USER, key, L"long", REG_SZ, longText.c_str(),
         static_cast<DWORD>((longText.size() + 1) * 2));
  std::wstring fits(1023, L'y');
  SetRaw(HKEY_CURRENT_USER, key, L"fits", REG_SZ, fits.c_str(),
         static_cast<DWORD>((fits.size() + 1) * 2));
  // A string stored without its terminator ends where its bytes end.
  std::wstring unterminated(1000, L'z');
  SetRaw(HKEY_CURRENT_USER, key, L"noterm", REG_SZ, unterminated.c_str(), 2000);
  SetRaw(HKEY_CURRENT_USER, key, L"expand", REG_EXPAND_SZ, L"%TEMP%", 14);

  CRegistry reg;
  ASSERT_TRUE(reg.OpenKey(key.c_str(), FALSE));
  EXPECT_EQ(9u, reg.ReadDword(L"missing", 9));
  EXPECT_EQ(0x1234u, reg.ReadDword(L"two", 9));  // a shorter value fills the low bytes
  EXPECT_EQ(9u, reg.ReadDword(L"eight", 9));     // longer than 4 bytes
  EXPECT_EQ(-1, reg.ReadIntBinary(L"eight", -1));
  EXPECT_EQ(L"def", reg.ReadString(L"dword", L"def"));  // not a string type
  EXPECT_EQ(L"def", reg.ReadString(L"long", L"def"));   // longer than 1023 characters
  EXPECT_EQ(fits, reg.ReadString(L"fits", L"def"));
  EXPECT_EQ(unterminated, reg.ReadString(L"noterm", L"def"));
  EXPECT_EQ(L"%TEMP%", reg.ReadString(L"expand", L"def"));  // as stored, not expanded
  EXPECT_EQ(L"", reg.ReadString(L"missing", nullptr));
  EXPECT_EQ("", reg.ReadStringUtf8(L"missing"));
}

TEST_F(RegistryTest, MissingKeyFailsWritesInsteadOfWritingIntoTheRoot) {
  const wchar_t kName[] = L"TessarineTestStray";
  RegDeleteValueW(HKEY_CURRENT_USER, kName);

  CRegistry fresh;  // no key opened yet
  EXPECT_FALSE(fresh.WriteDword(kName, 1));

  CRegistry reg;
  EXPECT_FALSE(reg.OpenKey(TestKey(L"DoesNotExist").c_str(), FALSE));
  EXPECT_EQ(L"", reg.keyPath);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, reg.lastError);
  EXPECT_FALSE(reg.WriteDword(kName, 1));
  EXPECT_FALSE(reg.WriteIntBinary(kName, 1));
  EXPECT_FALSE(reg.WriteString(kName, L"x"));
  EXPECT_FALSE(reg.WriteBinary(kName, "x", 1));
  EXPECT_FALSE(reg.DeleteValue(kName));
  EXPECT_EQ(3u, reg.ReadDword(kName, 3));
  EXPECT_FALSE(RootHasValue(HKEY_CURRENT_USER, kName));

  // A failed open after a good one leaves no key current either: the write
  // must not land in the key opened before.
  const std::wstring good = TestKey(L"Good");
  ASSERT_TRUE(reg.OpenKey(good.c_str(), TRUE));
  EXPECT_FALSE(reg.OpenKey(TestKey(L"DoesNotExist").c_str(), FALSE));
  EXPECT_FALSE(reg.WriteDword(kName, 1));
  CRegistry check;
  ASSERT_TRUE(check.OpenKey(good.c_str(), FALSE));
  EXPECT_FALSE(check.ValueExists(kName));
}

TEST_F(RegistryTest, KeysExistAndDelete) {
  const std::wstring key = TestKey(L"Deletable");
  CRegistry reg;
  EXPECT_FALSE(reg.KeyExists(key.c_str()));
  EXPECT_TRUE(reg.DeleteKey(key.c_str()));  // missing counts as deleted
  ASSERT_TRUE(reg.OpenKey(key.c_str(), TRUE));
  EXPECT_TRUE(reg.KeyExists(key.c_str()));
  EXPECT_TRUE(reg.DeleteKey(key.c_str()));
  EXPECT_FALSE(reg.KeyExists(key.c_str()));
  EXPECT_FALSE(reg.DeleteKey(L""));  // never the root itself

  reg.view64 = 1;
  ASSERT_TRUE(reg.OpenKey(key.c_str(), TRUE));
  EXPECT_TRUE(reg.KeyExists(key.c_str()));
  EXPECT_TRUE(reg.DeleteKey(key.c_str()));
  EXPECT_FALSE(reg.KeyExists(key.c_str()));
}

TEST_F(RegistryTest, MachineHiveTestKey) {
  const std::wstring key = TestKey(L"Machine");
  {
    CRegistry reg;
    reg.root = HKEY_LOCAL_MACHINE;
    reg.lazyWrite = 0;  // every write flushed
    if (!reg.OpenKey(key.c_str(), TRUE)) GTEST_SKIP() << "machine hive not writable here";
    EXPECT_TRUE(reg.WriteDword(L"v", 42));
  }
  CRegistry reg;
  reg.root = HKEY_LOCAL_MACHINE;
  ASSERT_TRUE(reg.OpenKey(key.c_str(), FALSE));
  EXPECT_EQ(42u, reg.ReadDword(L"v", 0));
  CRegistry user;  // the same path in the user hive is another key
  EXPECT_FALSE(user.OpenKey(key.c_str(), FALSE));
}

TEST_F(RegistryTest, UniversalPathResolution) {
  const std::wstring base = kRemoteServerBaseKey;
  const std::wstring business = base + L" for Business";
  EXPECT_EQ(L"Software\\Other", CRegistry::ResolveUniversalPath(L"Software\\Other", nullptr));

  // The remote-server keys are absent in the build's prefix unless a test
  // made them; only the user-hive key is created here, and only then.
  CRegistry probe;
  probe.root = HKEY_LOCAL_MACHINE;
  if (probe.KeyExists(base.c_str())) GTEST_SKIP() << "remote-server key present on this machine";
  CRegistry user;
  const bool userKeyExisted = user.KeyExists(base.c_str());
  if (userKeyExisted) GTEST_SKIP() << "remote-server key present for this user";

  EXPECT_EQ(base, CRegistry::ResolveUniversalPath(L"UNIVERSAL_PATH_CONVERT", nullptr));
  EXPECT_EQ(base, CRegistry::ResolveUniversalPath(L"universal_path_convert", nullptr));
  EXPECT_EQ(base, CRegistry::ResolveUniversalPath(L"UNIVERSAL_PATH_CONVERT", HKEY_CURRENT_USER));
  EXPECT_EQ(base, CRegistry::ResolveUniversalPath(L"UNIVERSAL_PATH_CONVERT",
                                                  reinterpret_cast<HKEY>(0x1234)));

  ASSERT_TRUE(user.OpenKey(base.c_str(), TRUE));
  EXPECT_TRUE(user.WriteDword(L"KvServerMode", 1));
  EXPECT_EQ(business, CRegistry::ResolveUniversalPath(L"universal_path_convert", nullptr));
  EXPECT_EQ(business, CRegistry::ResolveUniversalPath(L"UNIVERSAL_PATH_CONVERT", HKEY_CURRENT_USER));
  EXPECT_TRUE(user.WriteDword(L"KvServerMode", 0));
  EXPECT_EQ(base, CRegistry::ResolveUniversalPath(L"UNIVERSAL_PATH_CONVERT", nullptr));
  // No mode value in the user's key: the machine hive decides (absent: base).
  EXPECT_TRUE(user.DeleteValue(L"KvServerMode"));
  EXPECT_EQ(base, CRegistry::ResolveUniversalPath(L"UNIVERSAL_PATH_CONVERT", nullptr));

  CRegistry opener;
  EXPECT_TRUE(opener.OpenUniversalKey());
  EXPECT_EQ(base, opener.keyPath);

  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Kelvora Inc.");
  RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Kelvora Inc.");
  CRegistry gone;
  EXPECT_FALSE(gone.OpenUniversalKey());
}

TEST(ImpersonateUser, RevertsOnDestruction) {
  {
    CImpersonateUser impersonation;
    // Whatever token source worked, the thread must be back to itself after.
    if (impersonation.impersonating) {
      EXPECT_NE(nullptr, impersonation.userToken);
    }
  }
  HANDLE threadToken = nullptr;
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &threadToken));
  if (threadToken) CloseHandle(threadToken);
}

}  // namespace

namespace {

TEST(ExplorerToken, PrimaryTokenOfTheShellWhenOneRuns) {
  HANDLE token = reinterpret_cast<HANDLE>(1);
  if (!GetExplorerToken(&token)) {
    EXPECT_EQ(nullptr, token);
    GTEST_SKIP() << "no shell process in this session";
  }
  ASSERT_NE(nullptr, token);
  TOKEN_TYPE type = TokenImpersonation;
  DWORD size = 0;
  EXPECT_TRUE(GetTokenInformation(token, TokenType, &type, sizeof(type), &size));
  EXPECT_EQ(TokenPrimary, type);
  CloseHandle(token);
}

}  // namespace
