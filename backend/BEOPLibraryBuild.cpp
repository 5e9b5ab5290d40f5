// The library build's side of the switch point (BEOPBuildVariant.h): the
// API library has no main window and must know the receiver when
// Nb5TxStart returns, so the lookup runs inline on the caller's thread, an
// operation runs inline on the thread that starts it (the device
// registration on the manager thread, which gets it as in the program), and
// the lookup completion decodes the token without a window and returns the
// decoder's result.
#include <new>

#include "backend/BEOPBuildVariant.h"
#include "backend/BEOPMgr.h"
#include "classlib/MainWindow.h"
#include "classlib/Str.h"
#include "engine/discovery/ReceiverProbe.h"

int DeliverLookupRecord(BEOPOperation* record) { return StartBEOP(record); }

int LaunchBEOP(BEOPOperation* record) {
  record->opInWork = record->op;
  record->fallbackInWork = record->fallbackOp;
  const int failingBit = RunBEOPOperation(record);
  if (failingBit != 0) {
    // No completion runs for a failed request: nothing is posted anywhere.
    delete record;
    return failingBit;
  }
  // The completion frees the record.
  return CBEOPMgr::Instance().OnEndBEOP(record);
}

int FinishLookup(BEOPOperation* record) {
  CBEOPMgr& mgr = CBEOPMgr::Instance();
  if (!mgr.receiverProbe) {
    // Reports go to the application's main window when there is one with a
    // handle; the library has none, so they go nowhere.
    mgr.receiverProbe = new (std::nothrow) ReceiverProbe(cl::GetMainWindow());
  }
  if (!mgr.receiverProbe) return BEOP_E_OUT_OF_MEMORY;
  return mgr.receiverProbe->DecodeLookupToken(
      cl::AnsiToWide(record->para.serviceTokenInfo.desc));
}
