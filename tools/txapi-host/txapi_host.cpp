// The transmitter API's host test: a host program as a real one is. It
// loads Nb5TxAPI.dll with LoadLibrary, finds the C functions by name and the
// CNb5TxAPI members by ordinal, and knows nothing of the library but the
// exported types (txapi/Nb5TxAPI.h).
//
// Offline.* need no peer: before Init, after Free, a null connection ID,
// unknown commands, the parameter layout, objects sharing a session, the
// resources; Afterwards.* checks that no log was written. They run on any
// Windows, also the 32-bit guest:
//     txapi-host.exe --gtest_filter=-WithPeers.*
// (Nb5TxAPI.dll beside it; Init sends a device registration that fails
// without a backend, which the cases do not look at.)
//
// WithPeers.* need tools/txapi-host/host_driver.py (TESS_HOST_DRIVER: test
// receivers on 127.0.0.2, the backend peer behind it) and are skipped
// without it. Cases run in file order: Offline.BeforeInit must be first.
//
// Teardown.* (run alone, --gtest_filter=Teardown.*: it unloads the DLL at
// its end) needs the driver too: cycles of Init, Start, Free against a
// backend that stalls or answers slowly, each Free bounded, and nothing of
// the library left running afterwards.
#include <winsock2.h>
#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "txapi/Nb5TxAPI.h"

#if defined(__i386__)
// g++ passes `this` of a member in ECX on 32-bit Windows.
#define TX_MEMBER __attribute__((thiscall))
#else
#define TX_MEMBER
#endif

namespace {

typedef void(TX_MEMBER* CtorFn)(void*);
typedef void*(TX_MEMBER* AssignFn)(void*, const void*);
typedef int(TX_MEMBER* IntFn)(void*);
typedef unsigned long(TX_MEMBER* ULongFn)(void*);
typedef long(TX_MEMBER* SendCommandFn)(void*, unsigned int, long);
typedef int(TX_MEMBER* StartFn)(void*, Nb5TxInitParameters);
typedef void(TX_MEMBER* AutoInitFn)(void*, unsigned);

struct Library {
  HMODULE dll = nullptr;
  int (*Init)() = nullptr;
  int (*Start)(Nb5TxInitParameters) = nullptr;
  int (*Stop)() = nullptr;
  int (*Free)() = nullptr;
  int (*IsStopped)() = nullptr;
  uint32_t (*GetLastError)() = nullptr;
  int (*SendCommand)(int, int) = nullptr;
  CtorFn Construct = nullptr;           // 8
  AssignFn Assign = nullptr;            // 9
  IntFn MFree = nullptr;                // 10
  ULongFn MGetLastError = nullptr;      // 11
  IntFn MInit = nullptr;                // 12
  IntFn MIsStopped = nullptr;           // 13
  SendCommandFn MSendCommand = nullptr; // 14
  StartFn MStart = nullptr;             // 15
  IntFn MStop = nullptr;                // 16
  AutoInitFn AutoClassInit2 = nullptr;  // 17
};

template <typename T>
void Find(HMODULE m, const char* nameOrOrdinal, T& fn) {
  fn = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(m, nameOrOrdinal)));
}

Library LoadTheLibrary() {
  Library l;
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  while (n > 0 && path[n - 1] != L'\\') --n;
  path[n] = L'\0';
  l.dll = LoadLibraryW((std::wstring(path) + L"Nb5TxAPI.dll").c_str());
  if (!l.dll) return l;
  Find(l.dll, "Nb5TxInit", l.Init);
  Find(l.dll, "Nb5TxStart", l.Start);
  Find(l.dll, "Nb5TxStop", l.Stop);
  Find(l.dll, "Nb5TxFree", l.Free);
  Find(l.dll, "Nb5TxIsStopped", l.IsStopped);
  Find(l.dll, "Nb5TxGetLastError", l.GetLastError);
  Find(l.dll, "Nb5TxSendCommand", l.SendCommand);
  Find(l.dll, MAKEINTRESOURCEA(8), l.Construct);
  Find(l.dll, MAKEINTRESOURCEA(9), l.Assign);
  Find(l.dll, MAKEINTRESOURCEA(10), l.MFree);
  Find(l.dll, MAKEINTRESOURCEA(11), l.MGetLastError);
  Find(l.dll, MAKEINTRESOURCEA(12), l.MInit);
  Find(l.dll, MAKEINTRESOURCEA(13), l.MIsStopped);
  Find(l.dll, MAKEINTRESOURCEA(14), l.MSendCommand);
  Find(l.dll, MAKEINTRESOURCEA(15), l.MStart);
  Find(l.dll, MAKEINTRESOURCEA(16), l.MStop);
  Find(l.dll, MAKEINTRESOURCEA(17), l.AutoClassInit2);
  return l;
}

Library& Lib() {
  static Library lib = LoadTheLibrary();
  return lib;
}

// What a host holds for a CNb5TxAPI of its own: storage of the class's size.
struct alignas(void*) ApiStorage {
  unsigned char bytes[sizeof(CNb5TxAPI)];
};
static_assert(sizeof(CNb5TxAPI) == sizeof(void*), "CNb5TxAPI is one pointer");

Nb5TxInitParameters Params(const char* id, const char* password = nullptr) {
  Nb5TxInitParameters p;
  p.ConnectionId = id;
  p.Password = password;
  p.Reserved = 0xA5A5A5A5u;  // never read
  return p;
}

double NowMs() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return 1000.0 * static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

// ------------------------------------------------------------- the driver

std::string Ask(const std::string& line) {
  const char* port = getenv("TESS_HOST_DRIVER");
  if (!port) return std::string();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<u_short>(atoi(port)));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  DWORD ms = 180000;  // a finish waits for the receivers, bounded there
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof(ms));
  std::string answer;
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0) {
    const std::string out = line + "\n";
    send(s, out.data(), static_cast<int>(out.size()), 0);
    char buf[4096];
    while (answer.find('\n') == std::string::npos) {
      const int n = recv(s, buf, sizeof(buf), 0);
      if (n <= 0) break;
      answer.append(buf, static_cast<size_t>(n));
    }
  }
  closesocket(s);
  return answer;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

int CountIn(const std::string& answer) {
  const size_t at = answer.find("\"count\": ");
  return at == std::string::npos ? -1 : atoi(answer.c_str() + at + 9);
}

int Registrations() { return CountIn(Ask("{\"cmd\": \"registrations\"}")); }

// Waits until the peer has seen `count` registrations (they run on the
// manager thread, after Init returned).
bool WaitRegistrations(int count) {
  for (int i = 0; i < 300; ++i) {
    if (Registrations() >= count) return true;
    Sleep(100);
  }
  return false;
}

// A token of the receivers' port 5000 naming these loopback interfaces.
void SetToken(const char* id, const char* interfacesJson) {
  char line[1024];
  snprintf(line, sizeof(line),
           "{\"cmd\": \"peer\", \"body\": {\"cmd\": \"token\", \"id\": \"%s\", \"token\": "
           "{\"name\": \"Test Receiver\", \"port\": 5000, \"code\": \"T\", \"interfaces\": %s}}}",
           id, interfacesJson);
  ASSERT_TRUE(Has(Ask(line), "\"ok\": true"));
}

void StartReceivers(const char* mirrorArgs, const char* raopArgs) {
  const std::string answer = Ask(std::string("{\"cmd\": \"receivers\", \"mirror\": ") + mirrorArgs +
                                 ", \"raop\": " + raopArgs + "}");
  ASSERT_TRUE(Has(answer, "\"ok\": true")) << answer;
}

void FinishReceivers(int waitSeconds, const char* mirrorExpect, const char* raopExpect) {
  char head[64];
  snprintf(head, sizeof(head), "{\"cmd\": \"finish\", \"wait\": %d", waitSeconds);
  const std::string answer = Ask(std::string(head) + ", \"mirror\": " + mirrorExpect +
                                 ", \"raop\": " + raopExpect + "}");
  EXPECT_TRUE(Has(answer, "\"pass\": true")) << answer;
}

bool WaitStopped(int (*isStopped)(), DWORD ms) {
  for (DWORD t = 0; t < ms; t += 100) {
    if (isStopped()) return true;
    Sleep(100);
  }
  return false;
}

class WithPeers : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!getenv("TESS_HOST_DRIVER")) GTEST_SKIP() << "no host driver (TESS_HOST_DRIVER)";
    ASSERT_NE(Lib().dll, nullptr);
  }
};

// The files of the log folder ("\Tessarine" of the roaming application
// data): names, sizes and write times.
std::string LogFolderState() {
  wchar_t appData[MAX_PATH];
  if (!GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH)) return "no APPDATA";
  const std::wstring dir = std::wstring(appData) + L"\\Tessarine\\";
  WIN32_FIND_DATAW f;
  HANDLE h = FindFirstFileW((dir + L"*").c_str(), &f);
  if (h == INVALID_HANDLE_VALUE) return "no folder";
  std::string state;
  do {
    char line[400];
    snprintf(line, sizeof(line), "%ls %lu %lu.%lu\n", f.cFileName,
             static_cast<unsigned long>(f.nFileSizeLow),
             static_cast<unsigned long>(f.ftLastWriteTime.dwHighDateTime),
             static_cast<unsigned long>(f.ftLastWriteTime.dwLowDateTime));
    state += line;
  } while (FindNextFileW(h, &f));
  FindClose(h);
  return state;
}
std::string g_logFolderBefore;

const char kOneInterface[] = "[{\"ip\": \"127.0.0.2\", \"mac\": \"aa:bb:cc:dd:ee:01\"}]";

}  // namespace

// ------------------------------------------------------------------ offline

TEST(Offline, BeforeInitEveryFunctionGivesItsNoObjectResult) {
  g_logFolderBefore = LogFolderState();
  Library& l = Lib();
  ASSERT_NE(l.dll, nullptr) << "LoadLibrary(Nb5TxAPI.dll): " << ::GetLastError();
  for (const void* fn : {reinterpret_cast<const void*>(l.Init), reinterpret_cast<const void*>(l.Start),
                         reinterpret_cast<const void*>(l.Stop), reinterpret_cast<const void*>(l.Free),
                         reinterpret_cast<const void*>(l.IsStopped),
                         reinterpret_cast<const void*>(l.GetLastError),
                         reinterpret_cast<const void*>(l.SendCommand),
                         reinterpret_cast<const void*>(l.Construct),
                         reinterpret_cast<const void*>(l.Assign), reinterpret_cast<const void*>(l.MFree),
                         reinterpret_cast<const void*>(l.MGetLastError),
                         reinterpret_cast<const void*>(l.MInit),
                         reinterpret_cast<const void*>(l.MIsStopped),
                         reinterpret_cast<const void*>(l.MSendCommand),
                         reinterpret_cast<const void*>(l.MStart), reinterpret_cast<const void*>(l.MStop),
                         reinterpret_cast<const void*>(l.AutoClassInit2)}) {
    ASSERT_NE(fn, nullptr);
  }
  EXPECT_EQ(l.GetLastError(), 2u);
  EXPECT_EQ(l.IsStopped(), 1);
  EXPECT_EQ(l.Stop(), 0);
  EXPECT_EQ(l.Start(Params("123")), 0);
  EXPECT_EQ(l.Free(), 0);
  for (int command : {0, 1, 2}) EXPECT_EQ(l.SendCommand(command, 0), 0);
  EXPECT_EQ(l.GetLastError(), 2u);
}

TEST(Offline, NullConnectionIdUnknownCommandAndAfterFree) {
  Library& l = Lib();
  ASSERT_NE(l.dll, nullptr);
  ASSERT_EQ(l.Init(), 1);
  EXPECT_EQ(l.IsStopped(), 1);  // no mirroring session yet
  EXPECT_EQ(l.GetLastError(), 0u);
  // The password slot holds text and Reserved a pattern: only the first
  // field is taken as the connection ID.
  EXPECT_EQ(l.Start(Params(nullptr, "secret")), 0);
  EXPECT_EQ(l.GetLastError(), TXAPI_ERR_NO_CONNECTION_ID);
  EXPECT_EQ(l.SendCommand(2, 0), 0);
  EXPECT_EQ(l.SendCommand(-1, 7), 0);
  EXPECT_EQ(l.GetLastError(), TXAPI_ERR_NO_CONNECTION_ID);
  EXPECT_EQ(l.SendCommand(TXAPI_CMD_SWITCH_DISPLAY, 2), 0);
  EXPECT_EQ(l.GetLastError(), TXAPI_ERR_NO_SESSION);
  EXPECT_EQ(l.SendCommand(TXAPI_CMD_EXTEND_DISPLAY, 0), 0);
  EXPECT_EQ(l.GetLastError(), TXAPI_ERR_NO_SESSION);
  EXPECT_EQ(l.Stop(), 1);
  EXPECT_EQ(l.IsStopped(), 1);
  EXPECT_EQ(l.Free(), 1);

  EXPECT_EQ(l.IsStopped(), 0);  // API object without a session
  EXPECT_EQ(l.GetLastError(), 2u);
  EXPECT_EQ(l.Stop(), 0);
  EXPECT_EQ(l.Start(Params("123")), 0);
  EXPECT_EQ(l.SendCommand(1, 0), 0);
  EXPECT_EQ(l.Free(), 1);
  EXPECT_EQ(l.GetLastError(), 2u);
}

TEST(Offline, ParameterLayoutIsThatOfTheArchitecture) {
#if defined(__i386__)
  EXPECT_EQ(sizeof(Nb5TxInitParameters), 12u);
  EXPECT_EQ(offsetof(Nb5TxInitParameters, Password), 4u);
  EXPECT_EQ(offsetof(Nb5TxInitParameters, Reserved), 8u);
#else
  EXPECT_EQ(sizeof(Nb5TxInitParameters), 24u);
  EXPECT_EQ(offsetof(Nb5TxInitParameters, Password), 8u);
  EXPECT_EQ(offsetof(Nb5TxInitParameters, Reserved), 16u);
#endif
  // The member takes the same block by value as the C function.
  Library& l = Lib();
  ApiStorage a;
  l.Construct(&a);
  ASSERT_EQ(l.MInit(&a), 1);
  EXPECT_EQ(l.MStart(&a, Params(nullptr, "secret")), 0);
  EXPECT_EQ(l.MGetLastError(&a), TXAPI_ERR_NO_CONNECTION_ID);
  EXPECT_EQ(l.MFree(&a), 1);
}

TEST(Offline, ObjectsSharingASessionFreeItOnce) {
  Library& l = Lib();
  ApiStorage a, b, c;
  memset(&a, 0xCC, sizeof(a));
  memset(&b, 0xCC, sizeof(b));
  l.Construct(&a);
  l.Construct(&b);
  EXPECT_EQ(*reinterpret_cast<void**>(&a), nullptr);
  EXPECT_EQ(l.MIsStopped(&b), 0);  // no session
  EXPECT_EQ(l.MGetLastError(&b), 2u);
  EXPECT_EQ(l.MStart(&b, Params("1")), 0);
  EXPECT_EQ(l.MStop(&b), 0);
  EXPECT_EQ(l.MSendCommand(&b, 1, 0), 0);

  ASSERT_EQ(l.MInit(&a), 1);
  EXPECT_EQ(l.Assign(&b, &a), static_cast<void*>(&b));
  EXPECT_EQ(*reinterpret_cast<void**>(&b), *reinterpret_cast<void**>(&a));
  EXPECT_EQ(l.MIsStopped(&b), 1);  // one session, no mirroring
  EXPECT_EQ(l.MSendCommand(&b, TXAPI_CMD_SWITCH_DISPLAY, 0), 0);
  EXPECT_EQ(l.MGetLastError(&a), TXAPI_ERR_NO_SESSION);  // set through b, seen through a

  EXPECT_EQ(l.MFree(&a), 1);
  // A new session for a, maybe where the old one was: b never took part.
  ASSERT_EQ(l.MInit(&a), 1);
  // Gone for b: nothing is freed twice or used after, and b never reaches
  // a's new session.
  EXPECT_EQ(l.MIsStopped(&b), 0);
  EXPECT_EQ(l.MGetLastError(&b), 2u);
  EXPECT_EQ(l.MSendCommand(&b, 1, 0), 0);
  EXPECT_EQ(l.MStop(&b), 0);
  EXPECT_EQ(l.MFree(&b), 1);
  EXPECT_EQ(l.MGetLastError(&a), 0u);
  EXPECT_EQ(l.MFree(&a), 1);
  EXPECT_EQ(l.MFree(&a), 1);

  memset(&c, 0xCC, sizeof(c));
  l.AutoClassInit2(&c, sizeof(c));
  for (unsigned char byte : c.bytes) EXPECT_EQ(byte, 0);
}

namespace {
BOOL CALLBACK AddType(HMODULE, LPWSTR type, LONG_PTR set) {
  reinterpret_cast<std::set<ULONG_PTR>*>(set)->insert(reinterpret_cast<ULONG_PTR>(type));
  return TRUE;
}
BOOL CALLBACK AddName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR set) {
  reinterpret_cast<std::set<ULONG_PTR>*>(set)->insert(reinterpret_cast<ULONG_PTR>(name));
  return TRUE;
}
}  // namespace

TEST(Offline, ResourcesAreTheStringTableAndTheManifest) {
  HMODULE m = Lib().dll;
  ASSERT_NE(m, nullptr);
  const struct {
    UINT id;
    const wchar_t* text;
  } strings[] = {{103, L"Nb5TxAPI"}, {104, L"Network error %d"}, {105, L"error %d"}};
  for (const auto& s : strings) {
    wchar_t buf[64] = {};
    EXPECT_GT(LoadStringW(m, s.id, buf, 64), 0) << s.id;
    EXPECT_STREQ(buf, s.text);
  }

  HRSRC r = FindResourceW(m, MAKEINTRESOURCEW(2), MAKEINTRESOURCEW(24));
  ASSERT_NE(r, nullptr);
  const char* data = static_cast<const char*>(LockResource(LoadResource(m, r)));
  ASSERT_NE(data, nullptr);
  const std::string manifest(data, SizeofResource(m, r));
  EXPECT_TRUE(Has(manifest, "<requestedExecutionLevel level=\"asInvoker\"")) << manifest;
  EXPECT_TRUE(Has(manifest, "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""))
      << manifest;

  // Strings and the one manifest: no dialogs, no version block.
  std::set<ULONG_PTR> types, manifests;
  EnumResourceTypesW(m, &AddType, reinterpret_cast<LONG_PTR>(&types));
  EXPECT_EQ(types, (std::set<ULONG_PTR>{6, 24}));
  EnumResourceNamesW(m, MAKEINTRESOURCEW(24), &AddName, reinterpret_cast<LONG_PTR>(&manifests));
  EXPECT_EQ(manifests, (std::set<ULONG_PTR>{2}));
}

// --------------------------------------------------------------- with peers

TEST_F(WithPeers, LookupFailuresComeBackAsTheirCodes) {
  Library& l = Lib();
  ASSERT_TRUE(Has(Ask("{\"cmd\": \"peer\", \"body\": {\"cmd\": \"token\", \"id\": \"T-MISSING\", "
                      "\"text\": \"{\\\"name\\\": \\\"R\\\", \\\"port\\\": 5000, "
                      "\\\"interfaces\\\": []}\"}}"),
                  "\"ok\": true"));
  ASSERT_TRUE(Has(Ask("{\"cmd\": \"peer\", \"body\": {\"cmd\": \"token\", \"id\": \"T-GARBLED\", "
                      "\"raw\": \"bm90IGEgdG9rZW4gYXQgYWxs\"}}"),
                  "\"ok\": true"));
  ASSERT_EQ(l.Init(), 1);
  const struct {
    const char* id;
    uint32_t lastError;
  } cases[] = {
      {"UNKNOWN-1", 0x4000},     // the backend answers 404
      {"T-MISSING", 0x30005},    // no "code"
      {"T-GARBLED", 0x30004},    // not decipherable
  };
  for (const auto& c : cases) {
    const double t0 = NowMs();
    EXPECT_EQ(l.Start(Params(c.id)), 0) << c.id;
    printf("[timing] failed lookup of %s: %.0f ms\n", c.id, NowMs() - t0);
    EXPECT_EQ(l.GetLastError(), c.lastError) << c.id;
    EXPECT_EQ(l.IsStopped(), 1) << c.id;
  }
  EXPECT_EQ(l.Free(), 1);
}

TEST_F(WithPeers, FullFlowWithPasswordDisplaysStopAndAReceiverThatGoes) {
  Library& l = Lib();
  SetToken("T-1", kOneInterface);
  const int registrations = Registrations();
  ASSERT_GE(registrations, 0);
  StartReceivers("[\"--password\", \"s3cret\"]",
                 "[\"--password\", \"s3cret\", \"--expect-outcome\", \"recording\"]");
  ASSERT_EQ(l.Init(), 1);
  EXPECT_TRUE(WaitRegistrations(registrations + 1));
  EXPECT_EQ(l.IsStopped(), 1);

  double t0 = NowMs();
  ASSERT_EQ(l.Start(Params("T-1", "s3cret")), 1);
  printf("[timing] Nb5TxStart (lookup, probe, pause, session start): %.0f ms\n", NowMs() - t0);
  EXPECT_EQ(l.GetLastError(), 0u);
  EXPECT_EQ(l.IsStopped(), 0);
  Sleep(2000);
  EXPECT_EQ(l.SendCommand(TXAPI_CMD_SWITCH_DISPLAY, 0), 1);
  EXPECT_EQ(l.GetLastError(), 0u);
  // Wine has one monitor and cannot add one.
  EXPECT_EQ(l.SendCommand(TXAPI_CMD_SWITCH_DISPLAY, 1), 0);
  EXPECT_EQ(l.GetLastError(), TXAPI_ERR_SWITCH_DISPLAY);
  EXPECT_EQ(l.SendCommand(TXAPI_CMD_EXTEND_DISPLAY, 0), 0);
  EXPECT_EQ(l.GetLastError(), TXAPI_ERR_EXTEND_DISPLAY);
  EXPECT_EQ(l.SendCommand(2, 0), 0);
  EXPECT_EQ(l.GetLastError(), TXAPI_ERR_EXTEND_DISPLAY);
  Sleep(1000);
  EXPECT_EQ(l.IsStopped(), 0);
  EXPECT_EQ(l.Stop(), 1);
  EXPECT_EQ(l.GetLastError(), 0u);
  EXPECT_EQ(l.IsStopped(), 1);
  FinishReceivers(20,
                  "{\"ok\": true, \"outcome\": \"streaming\", \"ended_by\": \"sender-close\", "
                  "\"auth_ok\": true, \"device_id\": \"\"}",
                  "{\"ok\": true, \"min_probes\": 1}");

  // Again without a password: the first one still holds. The receiver
  // closes mid-stream; the session ends by itself and counts as stopped.
  StartReceivers("[\"--password\", \"s3cret\", \"--misbehave\", \"close-mid-stream\", "
                 "\"--close-after\", \"30\"]",
                 "[\"--password\", \"s3cret\"]");
  t0 = NowMs();
  ASSERT_EQ(l.Start(Params("T-1")), 1);
  printf("[timing] Nb5TxStart again: %.0f ms\n", NowMs() - t0);
  EXPECT_TRUE(WaitStopped(l.IsStopped, 30000));
  // A lost connection ends the session without a code of its own.
  EXPECT_EQ(l.GetLastError(), 0u);
  FinishReceivers(20, "{\"outcome\": \"streaming\", \"auth_ok\": true, \"device_id\": \"\"}",
                  "{\"min_probes\": 1}");

  // A receiver that closes before answering: the session's error reaches
  // the host without a Stop.
  StartReceivers("[\"--misbehave\", \"close-after-accept\"]", "[]");
  ASSERT_EQ(l.Start(Params("T-1")), 1);
  EXPECT_TRUE(WaitStopped(l.IsStopped, 30000));
  EXPECT_EQ(static_cast<int32_t>(l.GetLastError()), -10010);
  EXPECT_EQ(l.Stop(), 1);
  EXPECT_EQ(static_cast<int32_t>(l.GetLastError()), -10010);
  FinishReceivers(5, "{\"outcome\": \"connected\"}", "{\"min_probes\": 1}");

  EXPECT_EQ(l.Free(), 1);
  EXPECT_EQ(l.IsStopped(), 0);
  EXPECT_EQ(l.GetLastError(), 2u);
  Sleep(500);
  EXPECT_EQ(Registrations(), registrations + 1);

  // Every lookup of the flow, exactly as the backend expects it.
  const std::string lookups = Ask("{\"cmd\": \"lookups\"}");
  size_t n = 0;
  for (size_t at = 0; (at = lookups.find("\"target\": \"/api/tarsel/v3/service/T-1\"", at)) !=
                      std::string::npos;
       ++at)
    ++n;
  EXPECT_EQ(n, 3u) << lookups;
  EXPECT_FALSE(Has(lookups, "\"violations\": 1")) << lookups;
}

TEST_F(WithPeers, MirrorsToTheInterfaceThatAnsweredTheProbe) {
  Library& l = Lib();
  // The first interface answers; the last (where the library would go
  // without the probe) refuses.
  SetToken("T-2", "[{\"ip\": \"127.0.0.2\", \"mac\": \"aa:bb:cc:dd:ee:01\"}, "
                  "{\"ip\": \"127.0.0.3\", \"mac\": \"aa:bb:cc:dd:ee:02\"}]");
  StartReceivers("[]", "[\"--expect-outcome\", \"recording\"]");
  ASSERT_EQ(l.Init(), 1);
  const double t0 = NowMs();
  ASSERT_EQ(l.Start(Params("T-2")), 1);
  printf("[timing] Nb5TxStart, two interfaces: %.0f ms\n", NowMs() - t0);
  Sleep(2000);
  EXPECT_EQ(l.IsStopped(), 0);
  EXPECT_EQ(l.GetLastError(), 0u);
  EXPECT_EQ(l.Stop(), 1);
  EXPECT_EQ(l.GetLastError(), 0u);
  EXPECT_EQ(l.Free(), 1);
  FinishReceivers(20, "{\"ok\": true, \"outcome\": \"streaming\"}", "{\"min_probes\": 1}");
}

TEST_F(WithPeers, ASecondInitEndsTheFirstSessionAndRegistersAgain) {
  Library& l = Lib();
  SetToken("T-1", kOneInterface);
  const int registrations = Registrations();
  StartReceivers("[]", "[\"--expect-outcome\", \"recording\"]");
  ASSERT_EQ(l.Init(), 1);
  ASSERT_EQ(l.Start(Params("T-1")), 1);
  Sleep(1500);
  EXPECT_EQ(l.Init(), 1);
  EXPECT_EQ(l.IsStopped(), 1);  // the new session mirrors nothing
  EXPECT_EQ(l.GetLastError(), 0u);
  FinishReceivers(20, "{\"ok\": true, \"outcome\": \"streaming\", \"ended_by\": \"sender-close\"}",
                  "{\"min_probes\": 1}");
  EXPECT_TRUE(WaitRegistrations(registrations + 2));
  EXPECT_EQ(l.Free(), 1);
  Sleep(500);
  EXPECT_EQ(Registrations(), registrations + 2);
}

// The library never starts the logger: whatever ran, the log folder is as
// it was before the first call.
TEST(Afterwards, TheLibraryWroteNoLog) {
  if (g_logFolderBefore.empty()) GTEST_SKIP() << "runs after Offline.BeforeInit";
  EXPECT_EQ(LogFolderState(), g_logFolderBefore);
}

// --------------------------------------------------------------- teardown

namespace {

// The threads of this process, read with a toolhelp snapshot. Those that
// start in ntdll are the system's: its thread pool's workers (which run
// timer-queue callbacks, and name lookups that have a time-out), which
// the system keeps for reuse after their work is done.
struct Threads {
  int all = 0;
  int systemPool = 0;
  std::string list;  // one line per thread: id, start address, its module
  int Own() const { return all - systemPool; }
};

Threads ProcessThreads() {
  typedef LONG(NTAPI * QueryThreadFn)(HANDLE, ULONG, PVOID, ULONG, PULONG);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto query = reinterpret_cast<QueryThreadFn>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryInformationThread")));
  Threads t;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) {
    t.all = -1;
    return t;
  }
  THREADENTRY32 e;
  e.dwSize = sizeof(e);
  for (BOOL more = Thread32First(snap, &e); more; more = Thread32Next(snap, &e)) {
    if (e.th32OwnerProcessID != GetCurrentProcessId()) continue;
    ++t.all;
    void* start = nullptr;
    HANDLE h = OpenThread(THREAD_QUERY_INFORMATION, FALSE, e.th32ThreadID);
    if (h && query) query(h, 9 /* ThreadQuerySetWin32StartAddress */, &start, sizeof(start), nullptr);
    if (h) CloseHandle(h);
    HMODULE m = nullptr;
    char module[MAX_PATH] = "?";
    if (start && GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                        GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                    static_cast<const char*>(start), &m))
      GetModuleFileNameA(m, module, MAX_PATH);
    t.systemPool += m != nullptr && m == ntdll;
    char line[MAX_PATH + 64];
    snprintf(line, sizeof(line), "  thread %lu starts at %p in %s\n",
             static_cast<unsigned long>(e.th32ThreadID), start, module);
    t.list += line;
  }
  CloseHandle(snap);
  return t;
}

// Handles of this process: GetProcessHandleCount, or where that counts
// nothing (Wine reports 0) the entries of the system's handle table.
long ProcessHandles() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0)
    return static_cast<long>(count);
  struct Entry {
    PVOID object;
    ULONG_PTR process;
    ULONG_PTR handle;
    ULONG access;
    USHORT backTrace;
    USHORT type;
    ULONG attributes;
    ULONG reserved;
  };
  struct Table {
    ULONG_PTR count;
    ULONG_PTR reserved;
    Entry entries[1];
  };
  typedef LONG(NTAPI * QueryFn)(ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return -1;
  const ULONG kExtendedHandleInformation = 64;
  std::vector<char> buffer(1 << 16);
  LONG status;
  ULONG needed = 0;
  while ((status = query(kExtendedHandleInformation, buffer.data(),
                         static_cast<ULONG>(buffer.size()), &needed)) ==
             static_cast<LONG>(0xC0000004L) &&
         buffer.size() < (64u << 20))
    buffer.resize(buffer.size() * 2);
  if (status != 0) return -1;
  const Table* t = reinterpret_cast<const Table*>(buffer.data());
  long n = 0;
  for (ULONG_PTR i = 0; i < t->count; ++i) n += t->entries[i].process == GetCurrentProcessId();
  return n;
}

long NumberAfter(const std::string& text, const char* key) {
  const size_t at = text.find(key);
  return at == std::string::npos ? -1 : atol(text.c_str() + at + strlen(key));
}

// Connections the backend peer accepted since its last reset.
long PeerConnections() {
  return NumberAfter(Ask("{\"cmd\": \"peer\", \"body\": {\"cmd\": \"log\"}}"), "\"connections\": ");
}

void PeerMode(const char* mode) {
  ASSERT_TRUE(Has(Ask(std::string("{\"cmd\": \"peer\", \"body\": {\"cmd\": \"mode\", \"mode\": \"") +
                      mode + "\", \"ops\": [0]}}"),
                  "\"ok\": true"));
}

struct Cycle {
  double freeMs = 0;
  Threads before, after;
  long handlesBefore = 0, handlesAfter = 0;
};

// The bound of one Free against a backend that holds the registration:
// the stop of the mirroring session and of the backend's request, with room
// for a busy machine. Without the request's cancel it takes about a minute.
constexpr double kFreeBoundMs = 10000;
// The system pool's workers seen at a Free's return: a few, reused from
// cycle to cycle, never one per cycle.
constexpr int kSystemPoolBound = 4;

// Init, Start (a full session to the test receivers), Free while the
// device registration of Init is held by the backend.
void RunCycle(Cycle* c) {
  Library& l = Lib();
  StartReceivers("[]", "[]");
  const long connections = PeerConnections();
  ASSERT_GE(connections, 0);
  c->before = ProcessThreads();
  c->handlesBefore = ProcessHandles();
  ASSERT_EQ(l.Init(), 1);
  // The registration reached the peer before Free comes.
  bool reached = false;
  for (int i = 0; i < 100 && !reached; ++i, Sleep(100)) reached = PeerConnections() > connections;
  EXPECT_TRUE(reached);
  EXPECT_EQ(l.Start(Params("T-1")), 1);
  // Mirroring under way (the receiver sees the stream) when Free comes.
  Sleep(2000);
  EXPECT_EQ(l.IsStopped(), 0);
  const double t0 = NowMs();
  EXPECT_EQ(l.Free(), 1);
  c->freeMs = NowMs() - t0;
  c->after = ProcessThreads();
  c->handlesAfter = ProcessHandles();
  FinishReceivers(20, "{\"outcome\": \"streaming\", \"ended_by\": \"sender-close\"}",
                  "{\"min_probes\": 1}");
}

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5)];
}

}  // namespace

TEST(Teardown, FreeIsBoundedAndLeavesNothingRunningAgainstAStallingOrSlowBackend) {
  if (!getenv("TESS_HOST_DRIVER")) GTEST_SKIP() << "no host driver (TESS_HOST_DRIVER)";
  Library& l = Lib();
  ASSERT_NE(l.dll, nullptr);
  SetToken("T-1", kOneInterface);
  const Threads atStart = ProcessThreads();
  const struct {
    const char* mode;  // of the registration only; lookups are answered
    const char* what;
  } backends[] = {
      {"silent", "stalls (takes the request, never answers)"},
      {"trickle", "answers slowly (its reply trickles in)"},
  };
  const int cycles = getenv("TESS_TEARDOWN_CYCLES") ? atoi(getenv("TESS_TEARDOWN_CYCLES")) : 20;

  // One cycle first, not counted: the system's one-time set-up (sockets,
  // TLS, the thread pool) belongs to no cycle.
  PeerMode(backends[0].mode);
  Cycle warmUp;
  RunCycle(&warmUp);
  if (HasFatalFailure()) return;
  const long handleBaseline = warmUp.handlesAfter;
  printf("[teardown] warm-up: Free %.0f ms, threads %d -> %d (system pool %d -> %d), "
         "handles %ld -> %ld\n",
         warmUp.freeMs, warmUp.before.all, warmUp.after.all, warmUp.before.systemPool,
         warmUp.after.systemPool, warmUp.handlesBefore, warmUp.handlesAfter);

  for (const auto& b : backends) {
    PeerMode(b.mode);
    std::vector<double> frees;
    for (int i = 0; i < cycles; ++i) {
      Cycle c;
      RunCycle(&c);
      if (HasFatalFailure()) return;
      printf("[teardown] %s cycle %2d: Free %.0f ms, threads %d -> %d (system pool %d -> %d), "
             "handles %ld -> %ld\n",
             b.mode, i + 1, c.freeMs, c.before.all, c.after.all, c.before.systemPool,
             c.after.systemPool, c.handlesBefore, c.handlesAfter);
      frees.push_back(c.freeMs);
      // Stop at the first cycle over the bound: such a Free can take a minute,
      // and the rest would only repeat it.
      ASSERT_LT(c.freeMs, kFreeBoundMs) << b.what << ", cycle " << i + 1;
      EXPECT_EQ(c.after.Own(), c.before.Own()) << b.what << ", cycle " << i + 1 << "\n"
                                               << c.before.list << "after Free:\n"
                                               << c.after.list;
      EXPECT_LE(c.after.systemPool, kSystemPoolBound) << c.after.list;
      EXPECT_LE(c.handlesAfter, handleBaseline) << b.what << ", cycle " << i + 1;
    }
    printf("[teardown] %s: Free min %.0f / median %.0f / max %.0f ms over %d cycles\n", b.mode,
           Percentile(frees, 0), Percentile(frees, 0.5), Percentile(frees, 1), cycles);
  }
  PeerMode("normal");

  // The host unloads the library and goes on: no thread of it is left to
  // run in its code. (Whether the DLL leaves memory is the loader's
  // business: a library linked into it may pin it for the process's life.)
  ASSERT_TRUE(FreeLibrary(l.dll));
  l = Library();
  Sleep(2000);
  const Threads atEnd = ProcessThreads();
  EXPECT_EQ(atEnd.Own(), atStart.Own()) << atEnd.list;
  printf("[teardown] threads at start %d, after unloading %d (system pool %d); the DLL is %s\n",
         atStart.all, atEnd.all, atEnd.systemPool,
         GetModuleHandleW(L"Nb5TxAPI.dll") ? "still mapped (pinned)" : "unmapped");
}

int main(int argc, char** argv) {
  WSADATA d;
  WSAStartup(MAKEWORD(2, 2), &d);
  ::testing::InitGoogleTest(&argc, argv);
  setvbuf(stdout, nullptr, _IONBF, 0);
  const int rc = RUN_ALL_TESTS();
  WSACleanup();
  return rc;
}
