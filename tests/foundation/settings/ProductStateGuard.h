// Moves the product's registry key, config.ini (with its signature) and
// default.iss of the build's Wine prefix out of the way for a test suite and
// puts them back afterwards, so tests start from an empty state.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/settings/FrameUtility.h"
#include "foundation/settings/IniFile.h"

class ProductStateGuard {
 public:
  static void Save() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kBackupKey);
    HKEY product;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, &product) == ERROR_SUCCESS) {
      HKEY backup;
      if (RegCreateKeyExW(HKEY_CURRENT_USER, kBackupKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          &backup, nullptr) == ERROR_SUCCESS) {
        RegCopyTreeW(product, nullptr, backup);
        RegCloseKey(backup);
        hadKey() = true;
      }
      RegCloseKey(product);
    }
    for (const std::wstring& f : Files()) MoveFileExW(f.c_str(), (f + L".testbak").c_str(),
                                                      MOVEFILE_REPLACE_EXISTING);
    Clear();
  }

  static void Restore() {
    Clear();
    if (hadKey()) {
      HKEY backup, product;
      if (RegOpenKeyExW(HKEY_CURRENT_USER, kBackupKey, 0, KEY_READ, &backup) == ERROR_SUCCESS) {
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &product, nullptr) == ERROR_SUCCESS) {
          RegCopyTreeW(backup, nullptr, product);
          RegCloseKey(product);
        }
        RegCloseKey(backup);
      }
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, kBackupKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\TessarineTest");
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Orvanta");  // only goes when empty
    for (const std::wstring& f : Files()) MoveFileExW((f + L".testbak").c_str(), f.c_str(),
                                                      MOVEFILE_REPLACE_EXISTING);
  }

  // Empty state: no product key, no config.ini, signature or default.iss.
  static void Clear() {
    CCpyptIniFile::ReleaseFiles(CFrameUtility::GetConfigIniPath());
    IniStoreState::Instance().resignedOverMismatch.clear();
    RegDeleteTreeW(HKEY_CURRENT_USER, kProductKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kProductKey);
    for (const std::wstring& f : Files()) DeleteFileW(f.c_str());
  }

 private:
  static constexpr const wchar_t* kBackupKey = L"Software\\TessarineTest\\ProductKeyBackup";
  static bool& hadKey() {
    static bool had = false;
    return had;
  }
  static std::vector<std::wstring> Files() {
    const std::wstring ini = CFrameUtility::GetConfigIniPath();
    return {ini, ini + L".dat", CFrameUtility::GetDefaultIssPath()};
  }
};

// Registers the save/restore around the whole test binary.
class ProductStateEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ProductStateGuard::Save(); }
  void TearDown() override { ProductStateGuard::Restore(); }
};
