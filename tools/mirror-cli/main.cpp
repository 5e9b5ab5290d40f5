// mirror-cli ADDRESS [seconds] [options]
// mirror-cli --connection-id ID [seconds] [options]
//                 the receiver is found through the backend (lookup and
//                 probe); its port is the audio port unless --audio-port
//   --port N        receiver's mirroring port (default 7100)
//   --audio-port N  receiver's audio (RAOP) port (default 0: none)
//   --fps N --quality N --scale N --no-cursor --dxgi
//   --password P    receiver password
//   --region L,T,R,B   mirror a rectangle of the desktop
//   --monitor N     mirror monitor N of the monitor list (default: the primary)
//   --ntp-port N    port of the NTP answer service (default 7010; 0 any free port)
//   --log PATH      log file (default mirror-cli.log beside the program)
// Prints what the session did. Exits 0 when the session streamed pictures
// without an error and was stopped and released; 1 otherwise (never
// connected, failed, sent no picture, or its thread would not end).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ConnectionIdLookup.h"
#include "classlib/Str.h"
#include "engine/mirror/Mirror.h"
#include "engine/mirror/SessionClock.h"
#include "foundation/log/Logger.h"

namespace {

// The session thread ends within a few seconds of a stop; a modal box or a
// hung capture must not keep the driver forever.
constexpr DWORD kStopBoundMs = 20000;

const char* StateName(MirrorState s) {
  switch (s) {
    case MirrorState::kIdle: return "idle";
    case MirrorState::kConnecting: return "connecting";
    case MirrorState::kStreaming: return "streaming";
    case MirrorState::kEnded: return "ended";
    case MirrorState::kFailed: return "failed";
  }
  return "?";
}

void Usage() {
  fprintf(stderr,
          "usage: mirror-cli ADDRESS|--connection-id ID [seconds] [--port N] [--audio-port N] [--fps N] "
          "[--quality N] [--scale N] [--no-cursor] [--dxgi] [--password P] "
          "[--region L,T,R,B] [--monitor N] [--ntp-port N] [--log PATH]\n");
}

std::wstring DefaultLogPath() {
  wchar_t exe[MAX_PATH] = {0};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring path(exe);
  size_t slash = path.rfind(L'\\');
  return (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) +
         L"mirror-cli.log";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    Usage();
    return 2;
  }
  std::string host = argv[1];
  std::string connectionId;
  int first = 2;  // the first option after the receiver
  if (host == "--connection-id") {
    if (argc < 3) {
      Usage();
      return 2;
    }
    connectionId = argv[2];
    first = 3;
  }
  int seconds = 5;
  int audioPort = -1;
  int ntpPort = kNtpServerPort;
  bool region = false;
  int monitor = -1;
  RECT rc{0, 0, 0, 0};
  std::wstring logPath = DefaultLogPath();
  MirrorParam param;
  for (int i = first; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        fprintf(stderr, "mirror-cli: %s needs a value\n", name);
        exit(2);
      }
      return argv[++i];
    };
    if (a == "--port") param.port = static_cast<uint16_t>(atoi(next("--port")));
    else if (a == "--audio-port") audioPort = atoi(next("--audio-port"));
    else if (a == "--ntp-port") ntpPort = atoi(next("--ntp-port"));
    else if (a == "--fps") param.fps = static_cast<uint16_t>(atoi(next("--fps")));
    else if (a == "--quality") param.quality = static_cast<uint16_t>(atoi(next("--quality")));
    else if (a == "--scale") param.scaleMode = atoi(next("--scale"));
    else if (a == "--no-cursor") param.showCursor = 0;
    else if (a == "--dxgi") param.useDxgi = 1;
    else if (a == "--password") param.password = next("--password");
    else if (a == "--monitor") monitor = atoi(next("--monitor"));
    else if (a == "--log") logPath = cl::AnsiToWide(next("--log"));
    else if (a == "--region") {
      if (sscanf(next("--region"), "%ld,%ld,%ld,%ld", &rc.left, &rc.top, &rc.right,
                 &rc.bottom) != 4) {
        Usage();
        return 2;
      }
      region = true;
    } else if (a[0] != '-' && i == first) seconds = atoi(a.c_str());
    else {
      Usage();
      return 2;
    }
  }
  if (seconds < 1) seconds = 1;

  ZtLogger::Instance().Init(const_cast<wchar_t*>(logPath.c_str()));
  if (!connectionId.empty()) {
    ConnectionIdTarget target;
    if (!LookupConnectionId(connectionId, 30000, target)) return 1;
    printf("mirror-cli: connection ID %s is %s at %s:%u (lookup %lu ms)\n", connectionId.c_str(),
           target.name.c_str(), target.address.c_str(), target.port, target.lookupMs);
    host = target.address;
    if (audioPort < 0) audioPort = target.port;
  }
  if (audioPort < 0) audioPort = 0;
  ZtLogger::Instance().Info("[Win]mirror-cli start to %s", host.c_str());

  CMirror* mirror = new CMirror(&param);
  if (monitor >= 0 && !mirror->SelectMonitor(static_cast<unsigned>(monitor))) {
    printf("mirror-cli: no monitor %d\n", monitor);
    CMirror::StopAndRelease(mirror);
    return 2;
  }
  mirror->SetNtpPort(static_cast<unsigned short>(ntpPort));
  if (region) mirror->SetCaptureRegion(rc.left, rc.top, rc.right, rc.bottom);
  printf("mirror-cli: connecting to %s:%d for %d s at %d fps\n", host.c_str(), param.port, seconds,
         ClampFps(param.fps));
  fflush(stdout);
  if (!mirror->Start(host.c_str(), static_cast<uint16_t>(audioPort))) {
    printf("mirror-cli: session could not start\n");
    CMirror::StopAndRelease(mirror);
    return 1;
  }

  std::wstring lastStatus;
  DWORD until = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
  while (static_cast<LONG>(until - GetTickCount()) > 0 && mirror->IsRunning()) {
    Sleep(100);
    std::wstring status = mirror->StatusText();
    if (status != lastStatus) {
      printf("status: %s\n", cl::WideToUtf8(status).c_str());
      fflush(stdout);
      lastStatus = status;
    }
  }
  const bool endedEarly = !mirror->IsRunning();
  const long long frames = mirror->FramesSent();
  printf("statistics: %s\n", cl::WideToUtf8(mirror->StatisticsText()).c_str());
  printf("loop passes: %lld\n", mirror->LoopPasses());
  printf("frames sent: %lld (codec packets %lld)\n", frames, mirror->CodecPacketsSent());

  DWORD t0 = GetTickCount();
  MirrorStatus last;
  const bool released = CMirror::StopAndRelease(mirror, kStopBoundMs, &last);
  DWORD stopMs = GetTickCount() - t0;
  if (last.text != lastStatus) printf("status: %s\n", cl::WideToUtf8(last.text).c_str());
  printf("state: %s\n", StateName(last.state));
  printf("last error: %d\n", last.lastError);
  printf("stopped: %s in %lu ms%s\n", released ? "yes" : "NO", static_cast<unsigned long>(stopMs),
         endedEarly ? " (session had ended by itself)" : "");
  // A session still running is left to the process exit, never freed under
  // its thread.
  return (released && last.state == MirrorState::kEnded && last.lastError == 0 && frames > 0)
             ? 0
             : 1;
}
