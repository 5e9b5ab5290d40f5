// The transmitter API's host test as a Windows developer builds a host:
// compiled for Microsoft's ABI (clang --target=<arch>-pc-windows-msvc),
// linked by lld-link against Nb5TxAPI.lib, including Nb5TxAPI.h from beside
// the DLL, and calling the class and the functions directly, by their
// decorated and C names. No GetProcAddress: the loader resolves every call.
//
// No Microsoft C runtime or SDK exists here, so the program brings the
// little it needs: its entry point, the Windows calls it makes (declared
// below, taken from mingw's import libraries), memset/memcpy, operator
// new/delete on the process heap, and a small GoogleTest-like report.
//
// Offline.* need no peer and run on any Windows (the 32-bit guest too).
// WithPeers.* need tools/txapi-host/host_driver.py (TESS_HOST_DRIVER: the
// test receivers on 127.0.0.2, the backend peer behind it) and are skipped
// without it. Cases run in the order below; the first one runs before
// anything has called Nb5TxInit. Exit 0 when every case passed.
#include "Nb5TxAPI.h"

// ------------------------------------------------------ Windows, by hand

extern "C" {
__declspec(dllimport) void* __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* data, unsigned long size,
                                              unsigned long* written, void* overlapped);
__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);
__declspec(dllimport) unsigned long __stdcall GetEnvironmentVariableA(const char* name, char* value,
                                                                      unsigned long size);
__declspec(dllimport) void __stdcall Sleep(unsigned long ms);
__declspec(dllimport) unsigned long __stdcall GetTickCount(void);
__declspec(dllimport) void* __stdcall GetProcessHeap(void);
__declspec(dllimport) void* __stdcall HeapAlloc(void* heap, unsigned long flags, size_t size);
__declspec(dllimport) int __stdcall HeapFree(void* heap, unsigned long flags, void* block);

typedef uintptr_t SOCKET;
__declspec(dllimport) int __stdcall WSAStartup(unsigned short version, void* data);
__declspec(dllimport) SOCKET __stdcall socket(int family, int type, int protocol);
__declspec(dllimport) int __stdcall connect(SOCKET s, const void* address, int size);
__declspec(dllimport) int __stdcall send(SOCKET s, const char* data, int size, int flags);
__declspec(dllimport) int __stdcall recv(SOCKET s, char* data, int size, int flags);
__declspec(dllimport) int __stdcall closesocket(SOCKET s);
__declspec(dllimport) int __stdcall setsockopt(SOCKET s, int level, int name, const char* value,
                                               int size);

// What the compiler may call for copies and fills of its own.
void* memset(void* to, int value, size_t size) {
  unsigned char* p = static_cast<unsigned char*>(to);
  while (size--) *p++ = static_cast<unsigned char>(value);
  return to;
}
void* memcpy(void* to, const void* from, size_t size) {
  unsigned char* p = static_cast<unsigned char*>(to);
  const unsigned char* q = static_cast<const unsigned char*>(from);
  while (size--) *p++ = *q++;
  return to;
}

// The C half of the host (c_host.c).
void CHostBeforeInit(void (*report)(const char* expression, long got, long want, int line));
}

void* operator new(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size ? size : 1); }
void operator delete(void* block) noexcept {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}
void operator delete(void* block, size_t) noexcept { operator delete(block); }

// The constructor's entry as the import table holds it: calling it by hand
// shows the value a Microsoft caller takes as the new object.
#if defined(_M_IX86)
typedef CNb5TxAPI*(__thiscall* ConstructFn)(void* storage);
extern "C" ConstructFn ImportedConstructor __asm__("__imp_??0CNb5TxAPI@@QAE@XZ");
#else
typedef CNb5TxAPI*(*ConstructFn)(void* storage);
extern "C" ConstructFn ImportedConstructor __asm__("__imp_??0CNb5TxAPI@@QEAA@XZ");
#endif

namespace {

// ------------------------------------------------------------- reporting

void Say(const char* text) {
  unsigned long size = 0, written = 0;
  while (text[size]) ++size;
  WriteFile(GetStdHandle(static_cast<unsigned long>(-11)), text, size, &written, nullptr);
}

// 32-bit values only: i686 code without a C runtime has no 64-bit division.
void SayNumber(long value) {
  char digits[16];
  int n = 0;
  unsigned long magnitude = value < 0 ? 0ul - static_cast<unsigned long>(value)
                                      : static_cast<unsigned long>(value);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  char text[18];
  int at = 0;
  if (value < 0) text[at++] = '-';
  while (n) text[at++] = digits[--n];
  text[at] = '\0';
  Say(text);
}

int g_failures;  // of the case that runs

void Mismatch(const char* expression, long got, long want, int line) {
  ++g_failures;
  Say("msvc_host: line ");
  SayNumber(line);
  Say(": ");
  Say(expression);
  Say(" is ");
  SayNumber(got);
  Say(", expected ");
  SayNumber(want);
  Say("\n");
}

#define EXPECT_EQ(expression, want)                                                         \
  do {                                                                                      \
    const long got_ = static_cast<long>(expression);                                       \
    if (got_ != static_cast<long>(want)) Mismatch(#expression, got_, static_cast<long>(want), \
                                                  __LINE__);                                \
  } while (0)
#define EXPECT_TRUE(condition) \
  do {                         \
    if (!(condition)) Mismatch(#condition, 0, 1, __LINE__); \
  } while (0)

// ------------------------------------------------------------ little helpers

size_t Length(const char* text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

bool Has(const char* text, const char* part) {
  const size_t n = Length(part);
  for (; *text; ++text) {
    size_t i = 0;
    while (i < n && text[i] == part[i]) ++i;
    if (i == n) return true;
  }
  return false;
}

// Joins the texts into one line (bounded; the driver's commands are short).
struct Line {
  char text[2048];
  size_t size = 0;
  Line& operator<<(const char* part) {
    while (*part && size + 1 < sizeof(text)) text[size++] = *part++;
    text[size] = '\0';
    return *this;
  }
};

Nb5TxInitParameters Params(const char* id, const char* password = nullptr) {
  Nb5TxInitParameters p;
  p.ConnectionId = id;
  p.Password = password;
  p.Reserved = 0xA5A5A5A5u;  // never read
  return p;
}

// ------------------------------------------------------------- the driver

char g_answer[16384];

// One command line to host_driver.py; its one-line answer in g_answer
// (empty when there is no driver or it did not answer).
const char* Ask(const Line& line) {
  g_answer[0] = '\0';
  char port[16];
  if (!GetEnvironmentVariableA("TESS_HOST_DRIVER", port, sizeof(port))) return g_answer;
  unsigned short portNumber = 0;
  for (const char* p = port; *p >= '0' && *p <= '9'; ++p)
    portNumber = static_cast<unsigned short>(portNumber * 10 + (*p - '0'));
  struct {
    unsigned short family = 2;  // AF_INET
    unsigned char port[2];
    unsigned char address[4] = {127, 0, 0, 1};
    unsigned char zero[8] = {};
  } to;
  to.port[0] = static_cast<unsigned char>(portNumber >> 8);
  to.port[1] = static_cast<unsigned char>(portNumber & 0xFF);
  const SOCKET s = socket(2, 1, 6);  // AF_INET, SOCK_STREAM, IPPROTO_TCP
  // A finish waits for the receivers, bounded there.
  const unsigned long ms = 180000;
  setsockopt(s, 0xFFFF, 0x1006, reinterpret_cast<const char*>(&ms), sizeof(ms));  // SO_RCVTIMEO
  size_t size = 0;
  if (connect(s, &to, sizeof(to)) == 0) {
    Line out = line;
    out << "\n";
    send(s, out.text, static_cast<int>(out.size), 0);
    while (!Has(g_answer, "\n") && size + 1 < sizeof(g_answer)) {
      const int n = recv(s, g_answer + size, static_cast<int>(sizeof(g_answer) - 1 - size), 0);
      if (n <= 0) break;
      size += static_cast<size_t>(n);
      g_answer[size] = '\0';
    }
  }
  closesocket(s);
  return g_answer;
}

bool HaveDriver() {
  char port[16];
  return GetEnvironmentVariableA("TESS_HOST_DRIVER", port, sizeof(port)) != 0;
}

// A token of the receivers' port 5000 naming 127.0.0.2.
void SetToken(const char* id) {
  Line line;
  line << "{\"cmd\": \"peer\", \"body\": {\"cmd\": \"token\", \"id\": \"" << id
       << "\", \"token\": {\"name\": \"Test Receiver\", \"port\": 5000, \"code\": \"T\", "
          "\"interfaces\": [{\"ip\": \"127.0.0.2\", \"mac\": \"aa:bb:cc:dd:ee:01\"}]}}}";
  EXPECT_TRUE(Has(Ask(line), "\"ok\": true"));
}

bool StartReceivers(const char* mirrorArgs, const char* raopArgs) {
  Line line;
  line << "{\"cmd\": \"receivers\", \"mirror\": " << mirrorArgs << ", \"raop\": " << raopArgs << "}";
  const bool ok = Has(Ask(line), "\"ok\": true");
  EXPECT_TRUE(ok);
  return ok;
}

void FinishReceivers(const char* mirrorExpect, const char* raopExpect) {
  Line line;
  line << "{\"cmd\": \"finish\", \"wait\": 20, \"mirror\": " << mirrorExpect
       << ", \"raop\": " << raopExpect << "}";
  if (!Has(Ask(line), "\"pass\": true")) {
    Say(g_answer);
    EXPECT_TRUE(Has(g_answer, "\"pass\": true"));
  }
}

// ----------------------------------------------------------------- offline

void BeforeInitEveryFunctionGivesItsNoObjectResult() { CHostBeforeInit(&Mismatch); }

void ConstructorReturnsThisAndLeavesNoSession() {
  void* storage[2] = {reinterpret_cast<void*>(~uintptr_t(0)), reinterpret_cast<void*>(~uintptr_t(0))};
  CNb5TxAPI* made = ImportedConstructor(storage);
  EXPECT_TRUE(made == reinterpret_cast<CNb5TxAPI*>(storage));
  EXPECT_TRUE(storage[0] == nullptr);  // the session pointer
  EXPECT_TRUE(storage[1] == reinterpret_cast<void*>(~uintptr_t(0)));

  // Every member of an object without a session.
  CNb5TxAPI* api = new CNb5TxAPI;
  EXPECT_EQ(api->IsStopped(), 0);
  EXPECT_EQ(api->GetLastError(), TXAPI_ERR_NOT_INITIALIZED);
  EXPECT_EQ(api->Start(Params("123")), 0);
  EXPECT_EQ(api->Stop(), 0);
  EXPECT_EQ(api->SendCommand(TXAPI_CMD_EXTEND_DISPLAY, 0), 0);
  EXPECT_EQ(api->SendCommand(TXAPI_CMD_SWITCH_DISPLAY, 1), 0);
  EXPECT_EQ(api->Free(), 1);
  EXPECT_EQ(api->GetLastError(), TXAPI_ERR_NOT_INITIALIZED);
  delete api;
}

void AutoClassInit2ZeroFillsThatManyBytes() {
  unsigned char bytes[2 * sizeof(CNb5TxAPI)];
  for (unsigned char& b : bytes) b = 0xCC;
  reinterpret_cast<CNb5TxAPI*>(bytes)->__autoclassinit2(sizeof(CNb5TxAPI));
  for (size_t i = 0; i < sizeof(bytes); ++i)
    EXPECT_EQ(bytes[i], i < sizeof(CNb5TxAPI) ? 0 : 0xCC);
}

// The members give their own results, not the C functions' 0 or 1, and
// take the parameter block by value in Microsoft's way: a null connection
// ID is seen beside a password and a Reserved pattern.
void MembersTakeTheParameterBlockAndGiveTheirOwnResults() {
  CNb5TxAPI api;
  EXPECT_EQ(api.Init(), 1);
  EXPECT_EQ(api.IsStopped(), 1);  // a session, no mirroring
  EXPECT_EQ(api.GetLastError(), 0);
  EXPECT_EQ(api.Start(Params(nullptr, "secret")), 0);
  EXPECT_EQ(api.GetLastError(), TXAPI_ERR_NO_CONNECTION_ID);
  EXPECT_EQ(api.SendCommand(2, 0), 0);
  EXPECT_EQ(api.GetLastError(), TXAPI_ERR_NO_CONNECTION_ID);
  EXPECT_EQ(api.SendCommand(TXAPI_CMD_SWITCH_DISPLAY, 2), 0);
  EXPECT_EQ(api.GetLastError(), TXAPI_ERR_NO_SESSION);
  EXPECT_EQ(api.SendCommand(TXAPI_CMD_EXTEND_DISPLAY, 0), 0);
  EXPECT_EQ(api.GetLastError(), TXAPI_ERR_NO_SESSION);
  EXPECT_EQ(api.Stop(), 1);
  EXPECT_EQ(api.IsStopped(), 1);
  EXPECT_EQ(api.Free(), 1);
  EXPECT_EQ(api.IsStopped(), 0);  // no session
  EXPECT_EQ(api.GetLastError(), TXAPI_ERR_NOT_INITIALIZED);
  EXPECT_EQ(api.Free(), 1);
}

void ObjectsSharingASessionSeeItFreedOnce() {
  CNb5TxAPI a, b;
  EXPECT_EQ(a.Init(), 1);
  EXPECT_TRUE(&(b = a) == &b);
  EXPECT_EQ(b.IsStopped(), 1);
  EXPECT_EQ(b.SendCommand(TXAPI_CMD_SWITCH_DISPLAY, 0), 0);
  EXPECT_EQ(a.GetLastError(), TXAPI_ERR_NO_SESSION);  // set through b, seen through a
  EXPECT_EQ(a.Free(), 1);
  EXPECT_EQ(b.IsStopped(), 0);
  EXPECT_EQ(b.GetLastError(), TXAPI_ERR_NOT_INITIALIZED);
  EXPECT_EQ(b.Stop(), 0);
  EXPECT_EQ(b.Free(), 1);
}

void FunctionsWithANullConnectionIdAndAfterFree() {
  EXPECT_EQ(Nb5TxInit(), 1);
  EXPECT_EQ(Nb5TxIsStopped(), 1);
  EXPECT_EQ(Nb5TxGetLastError(), 0);
  EXPECT_EQ(Nb5TxStart(Params(nullptr, "secret")), 0);
  EXPECT_EQ(Nb5TxGetLastError(), TXAPI_ERR_NO_CONNECTION_ID);
  EXPECT_EQ(Nb5TxSendCommand(TXAPI_CMD_SWITCH_DISPLAY, 2), 0);
  EXPECT_EQ(Nb5TxGetLastError(), TXAPI_ERR_NO_SESSION);
  EXPECT_EQ(Nb5TxStop(), 1);
  EXPECT_EQ(Nb5TxFree(), 1);
  EXPECT_EQ(Nb5TxIsStopped(), 0);  // the API object stays, without a session
  EXPECT_EQ(Nb5TxGetLastError(), TXAPI_ERR_NOT_INITIALIZED);
  EXPECT_EQ(Nb5TxStop(), 0);
  EXPECT_EQ(Nb5TxStart(Params("123")), 0);
  EXPECT_EQ(Nb5TxSendCommand(TXAPI_CMD_SWITCH_DISPLAY, 0), 0);
  EXPECT_EQ(Nb5TxFree(), 1);
}

// ------------------------------------------------------- with the peers

const char kPasswordMirror[] = "[\"--password\", \"s3cret\"]";
const char kPasswordRaop[] = "[\"--password\", \"s3cret\", \"--expect-outcome\", \"recording\"]";

void AnObjectOfTheHostMirrorsSwitchesAndStops() {
  SetToken("T-1");
  if (!StartReceivers(kPasswordMirror, kPasswordRaop)) return;
  CNb5TxAPI* api = new CNb5TxAPI;
  EXPECT_EQ(api->Init(), 1);
  EXPECT_EQ(api->Start(Params("T-1", "s3cret")), 1);
  EXPECT_EQ(api->GetLastError(), 0);
  EXPECT_EQ(api->IsStopped(), 0);
  Sleep(2000);
  EXPECT_EQ(api->SendCommand(TXAPI_CMD_SWITCH_DISPLAY, 0), 1);
  EXPECT_EQ(api->GetLastError(), 0);
  // Wine has one monitor and cannot add one.
  EXPECT_EQ(api->SendCommand(TXAPI_CMD_EXTEND_DISPLAY, 0), 0);
  EXPECT_EQ(api->GetLastError(), TXAPI_ERR_EXTEND_DISPLAY);
  Sleep(1000);
  EXPECT_EQ(api->IsStopped(), 0);
  EXPECT_EQ(api->Stop(), 1);
  EXPECT_EQ(api->GetLastError(), 0);
  EXPECT_EQ(api->IsStopped(), 1);
  EXPECT_EQ(api->Free(), 1);
  EXPECT_EQ(api->GetLastError(), TXAPI_ERR_NOT_INITIALIZED);
  delete api;
  FinishReceivers(
      "{\"ok\": true, \"outcome\": \"streaming\", \"ended_by\": \"sender-close\", "
      "\"auth_ok\": true, \"device_id\": \"\"}",
      "{\"ok\": true, \"min_probes\": 1}");
}

void TheFunctionsMirrorAndStop() {
  SetToken("T-1");
  if (!StartReceivers("[]", "[\"--expect-outcome\", \"recording\"]")) return;
  EXPECT_EQ(Nb5TxInit(), 1);
  EXPECT_EQ(Nb5TxStart(Params("T-1")), 1);
  EXPECT_EQ(Nb5TxGetLastError(), 0);
  Sleep(2000);
  EXPECT_EQ(Nb5TxIsStopped(), 0);
  EXPECT_EQ(Nb5TxStop(), 1);
  EXPECT_EQ(Nb5TxGetLastError(), 0);
  EXPECT_EQ(Nb5TxIsStopped(), 1);
  EXPECT_EQ(Nb5TxFree(), 1);
  FinishReceivers("{\"ok\": true, \"outcome\": \"streaming\", \"ended_by\": \"sender-close\"}",
                  "{\"ok\": true, \"min_probes\": 1}");
}

struct Case {
  const char* name;
  void (*run)();
  bool withPeers;
};

const Case kCases[] = {
    {"Offline.BeforeInitEveryFunctionGivesItsNoObjectResult",
     &BeforeInitEveryFunctionGivesItsNoObjectResult, false},
    {"Offline.ConstructorReturnsThisAndLeavesNoSession", &ConstructorReturnsThisAndLeavesNoSession,
     false},
    {"Offline.AutoClassInit2ZeroFillsThatManyBytes", &AutoClassInit2ZeroFillsThatManyBytes, false},
    {"Offline.MembersTakeTheParameterBlockAndGiveTheirOwnResults",
     &MembersTakeTheParameterBlockAndGiveTheirOwnResults, false},
    {"Offline.ObjectsSharingASessionSeeItFreedOnce", &ObjectsSharingASessionSeeItFreedOnce, false},
    {"Offline.FunctionsWithANullConnectionIdAndAfterFree",
     &FunctionsWithANullConnectionIdAndAfterFree, false},
    {"WithPeers.AnObjectOfTheHostMirrorsSwitchesAndStops", &AnObjectOfTheHostMirrorsSwitchesAndStops,
     true},
    {"WithPeers.TheFunctionsMirrorAndStop", &TheFunctionsMirrorAndStop, true},
};

}  // namespace

extern "C" void __cdecl HostMain() {
  unsigned char wsaData[512];  // WSADATA, 400 or 408 bytes
  WSAStartup(0x0202, wsaData);
  const bool driver = HaveDriver();
  int passed = 0, failed = 0, skipped = 0;
  Say("[==========] Running the Microsoft-ABI host's cases.\n");
  for (const Case& c : kCases) {
    Say("[ RUN      ] ");
    Say(c.name);
    Say("\n");
    if (c.withPeers && !driver) {
      Say("no host driver (TESS_HOST_DRIVER)\n[  SKIPPED ] ");
      Say(c.name);
      Say("\n");
      ++skipped;
      continue;
    }
    g_failures = 0;
    const unsigned long t0 = GetTickCount();
    c.run();
    Say(g_failures ? "[  FAILED  ] " : "[       OK ] ");
    Say(c.name);
    Say(" (");
    SayNumber(static_cast<long>(GetTickCount() - t0));
    Say(" ms)\n");
    ++(g_failures ? failed : passed);
  }
  Say("[==========] ");
  SayNumber(passed + failed);
  Say(" tests ran.\n[  PASSED  ] ");
  SayNumber(passed);
  Say(" tests.\n");
  if (skipped) {
    Say("[  SKIPPED ] ");
    SayNumber(skipped);
    Say(" tests.\n");
  }
  if (failed) {
    Say("[  FAILED  ] ");
    SayNumber(failed);
    Say(" tests.\n");
  }
  ExitProcess(failed ? 1 : 0);
}
