// The program build's side of the switch point (BEOPBuildVariant.h): the
// lookup is posted to the manager thread, every operation runs on a worker
// thread of its own, and a lookup's token is decoded for the main window.
#include <process.h>

#include <new>

#include "backend/BEOPBuildVariant.h"
#include "backend/BEOPMgr.h"
#include "backend/BEOPWorker.h"
#include "classlib/MainWindow.h"
#include "classlib/Str.h"
#include "engine/discovery/ReceiverProbe.h"
#include "foundation/log/Logger.h"

int DeliverLookupRecord(BEOPOperation* record) {
  if (!PostOPMessage(WM_BEOP_START, reinterpret_cast<WPARAM>(record), 0)) {
    delete record;
    return BEOP_E_POST_FAILED;
  }
  return 0;
}

int LaunchBEOP(BEOPOperation* record) { return StartBEOPThread(record); }

int StartBEOPThread(BEOPOperation* record) {
  record->opInWork = record->op;
  record->fallbackInWork = record->fallbackOp;
  const uintptr_t h = _beginthreadex(nullptr, 0, &BEOPThreadProc, record, 0, nullptr);
  if (h == 0) {
    delete record;
    ZtLogger::Instance().Error("Create BEOP thread failed: %d", errno);
    return 4;
  }
  // The manager never waits for a worker.
  CloseHandle(reinterpret_cast<HANDLE>(h));
  return 0;
}

unsigned __stdcall BEOPThreadProc(void* arg) {
  BEOPOperation* record = static_cast<BEOPOperation*>(arg);
  const int failingBit = RunBEOPOperation(record);
  // The manager may have stopped meanwhile: then nobody else will free it.
  if (!PostOPMessage(WM_BEOP_END, reinterpret_cast<WPARAM>(record), 0)) delete record;
  return static_cast<unsigned>(failingBit);
}

int FinishLookup(BEOPOperation* record) {
  HWND main = cl::GetMainWindow();
  if (!main) return 0;
  CBEOPMgr& mgr = CBEOPMgr::Instance();
  if (!mgr.receiverProbe) mgr.receiverProbe = new (std::nothrow) ReceiverProbe(main);
  if (!mgr.receiverProbe) return 0;
  mgr.receiverProbe->DecodeLookupToken(cl::AnsiToWide(record->para.serviceTokenInfo.desc));
  return 0;
}
