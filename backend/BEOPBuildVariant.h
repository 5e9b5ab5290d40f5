// The switch point between the program build and the library build.
//
// The program (BEOPProgramBuild.cpp) posts the connection-ID lookup to the
// manager thread, runs every operation on a worker thread that posts it
// back with WM_BEOP_END, and decodes a lookup's token only for a main
// window. The library build supplies its own file defining the same three
// functions: the lookup runs inline on the caller's thread, an operation
// runs inline on the thread that starts it (a failing bit frees the record
// and is the result; success calls CBEOPMgr::OnEndBEOP directly), and the
// lookup completion decodes without a window and returns the decoder's
// result. Everything else in backend/ is shared.
#pragma once

#include <windows.h>

#include "backend/BEOPRecords.h"

// Hands a filled lookup record on; the result is PostConnectionIdLookup's.
int DeliverLookupRecord(BEOPOperation* record);
// Runs a checked record (StartBEOP has logged it) and owns it from then on;
// its result is StartBEOP's. Program: 0, or 4 when no worker could be
// started (the record is freed then). Library: the run's result.
int LaunchBEOP(BEOPOperation* record);
// The lookup completion after a status of 0: decode the reply's token for
// the receiver probe. The caller frees the record.
int FinishLookup(BEOPOperation* record);

// Steps shared by both builds: proxy discovery, the bits of the op word and
// of the fallback word, and the results copied back into the record.
// Returns the failing bit, 0 when every bit succeeded.
int RunBEOPOperation(BEOPOperation* record);
