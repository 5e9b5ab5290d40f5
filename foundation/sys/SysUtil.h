// Small shared system utilities: Everyone-access creators, program path,
// Windows version codes, elevation and desktop tests, text conversions, host
// name and local IPv4 list, version text, and a few helpers of the engine.
// All functions are re-entrant except AppendRandomHexDigits.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cl {
class CImage;
}

// ---------------------------------------------------------------------------
// Security attributes that give Everyone full access to a file, folder or
// event that several Windows users share.

class IAccessSecurityAttributes {
 public:
  IAccessSecurityAttributes();
  virtual ~IAccessSecurityAttributes();
  IAccessSecurityAttributes(const IAccessSecurityAttributes&) = delete;
  IAccessSecurityAttributes& operator=(const IAccessSecurityAttributes&) = delete;

  // 1 on success.
  virtual int Init() = 0;
  virtual SECURITY_ATTRIBUTES* Get() { return &attributes_; }

 protected:
  SECURITY_ATTRIBUTES attributes_;
  PSID sid_ = nullptr;                      // FreeSid
  PACL acl_ = nullptr;                      // LocalFree
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;  // LocalFree
};

class EveryoneAccessSecurityAttributes : public IAccessSecurityAttributes {
 public:
  int Init() override;
};

// 1 when the file was created (CREATE_NEW: an existing file is an error and
// is left untouched); 0 otherwise, logged.
int CreateFileWithSA(const wchar_t* path);
// 1 when the folder was created; 0 otherwise, logged.
int CreateFolderWithSA(const wchar_t* path);
// An auto-reset, unsignalled event; null on failure. GetLastError tells
// ERROR_ALREADY_EXISTS as CreateEventW does.
HANDLE CreateEventWithSA(const wchar_t* name);

// ---------------------------------------------------------------------------
// Process, desktop and Windows version

// Full path of the process's executable; "" when it cannot be read.
std::wstring GetModuleFilePath();
// The input desktop is the secure "Winlogon" desktop.
bool IsWinlogonDesktop();

enum OsVersionCode {
  OSVER_OTHER = 0,
  OSVER_VISTA = 1,
  OSVER_WIN7 = 2,
  OSVER_WIN8 = 3,
  OSVER_WIN81 = 4,
  OSVER_WIN10 = 5,
};

// The code of the true version (RtlGetVersion); falls back to
// GetOSVersionCodeEx when that cannot be asked.
int GetOSVersionCode();
// The code of the version the compatibility layer reports (GetVersionExW):
// later systems report 6.2 to a program without a manifest entry, so they
// read as OSVER_WIN8. info receives the structure when not null.
int GetOSVersionCodeEx(OSVERSIONINFOW* info = nullptr);
// The two mappings from major and minor version numbers.
int OsVersionCodeFromVersion(DWORD major, DWORD minor);
int OsVersionCodeExFromVersion(DWORD major, DWORD minor);

// TokenElevation of the process token; 0 before Vista or on any failure.
int IsProcessElevated();

// ---------------------------------------------------------------------------
// Text conversions

std::string UnicodeToUtf8(const std::wstring& text);
std::wstring Utf8ToUnicode(const std::string& text);
std::wstring AnsiToUnicode(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

// ---------------------------------------------------------------------------
// Host and adapters

// The host name; "quillmere" when it is empty or cannot be read.
std::wstring GetLocalHostName();

// One usable adapter. Texts end in "\n": their users join them into
// multi-line displays.
struct AdapterRecord {
  std::wstring address;  // dotted IPv4 address, or "localhost" for the loopback fallback
  std::wstring name;     // friendly name
  std::wstring kind;     // "WLAN" or "LAN" (no line end)
  std::wstring spare1;
  std::wstring spare2;
};

// What the walk needs of one adapter (the operating system's view).
struct AdapterFacts {
  bool up = false;
  DWORD ifType = 0;            // IF_TYPE_*: 71 IEEE 802.11, 24 software loopback
  std::wstring firstIPv4;      // dotted, "" when the adapter has none
  std::wstring friendlyName;
};

// Up adapters with a non-link-local IPv4 address, in order; the loopback
// adapter only when nothing else qualifies, with address "localhost\n".
bool SelectIPv4Adapters(const std::vector<AdapterFacts>& adapters, std::vector<AdapterRecord>& list);
// The local list; true when it is not empty.
bool GetLocalIPv4List(std::vector<AdapterRecord>& list);

// ---------------------------------------------------------------------------
// Product

// The version text "1.0.1.10".
std::wstring GetVersionString();
// "KvSBasedType" of the remote-server base key in the machine hive; 0 when
// the key or value is missing.
int GetKvSBasedType();

// ---------------------------------------------------------------------------
// Engine helpers

// Every two hex characters make one byte (high digit first; any other
// character counts as 0). The first pair goes to the last output byte, so
// lengthChars/2 bytes are written backwards: "0A1b" -> 1B 0A.
void HexToLittleEndian(uint8_t* out, const char* hex, size_t lengthChars);

// Seeds the C runtime's generator with the current time in seconds and
// appends 8 characters of "0123456789ABCDEF" chosen by its next values.
// Not re-entrant: it reseeds the process-wide generator.
void AppendRandomHexDigits(std::string& text);

// Copies the screen rectangle (virtual-screen coordinates) into image as a
// bitmap compatible with the display; the image's old bitmap is destroyed
// first. False when nothing could be captured (the image is then empty).
bool CaptureScreenRect(const RECT& rect, cl::CImage& image);
