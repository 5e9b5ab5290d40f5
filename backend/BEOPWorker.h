// The operation worker: runs the bits of one record's op word (and, when a
// bit failed, of its fallback word) through the wrappers, each one backend
// request, and copies the results back into the record.
#pragma once

#include "backend/BEOPRecords.h"

// Masks of FillBEOPParams.
enum : int {
  BEOP_PARAM_USER = 0x001,
  BEOP_PARAM_PASSWORD = 0x002,
  BEOP_PARAM_MACHINE_ID = 0x004,
  BEOP_PARAM_HOST_NAME = 0x010,
  BEOP_PARAM_PLATFORM = 0x020,
  BEOP_PARAM_MEETING_TOKEN = 0x040,
  BEOP_PARAM_MEETING_DESC = 0x080,
  BEOP_PARAM_SERVICE_TOKEN = 0x100,
};

// Wrapper results besides 0 and BEServiceUtil::Execute's.
enum : int { BEOP_WRAPPER_REFUSED = 1, BEOP_WRAPPER_NO_SERVICE = 4 };

// 0, or 4 when the thread could not be made (the record is freed then).
int StartBEOPThread(BEOPOperation* record);
unsigned __stdcall BEOPThreadProc(void* record);

int BEDevInit(BEOPPara& para, BEServiceRequest& request);
int CreateMeetingToken(BEOPPara& para, BEServiceRequest& request);
int UpdateMeetingToken(BEOPPara& para, BEServiceRequest& request);
int QueryMeetingToken(BEOPPara& para, BEServiceRequest& request);
int DeleteMeetingToken(BEOPPara& para, BEServiceRequest& request);
int GetRelayInfo(BEOPPara& para, BEServiceRequest& request);
int GetServiceTokenInfo(BEOPPara& para, BEServiceRequest& request);

// 0, or 1 when a field the mask asks for is empty (fields before it stay
// stored).
int FillBEOPParams(const BEOPPara& para, int mask, BEServiceRequest& request);
int CopyBEOPResults(const BEServiceRequest* request, BEOPPara* para);

// "https://" + host + "/api/tarsel/" + "v3/" for a lookup, else "v2/".
std::wstring BEOPProxyTargetUrl(int opWord);

// Tests replace the backend request of every wrapper (null: the real one).
using BEServiceExecuteFn = int (*)(BEServiceRequest* request, int op);
void SetBEServiceExecuteForTest(BEServiceExecuteFn fn);
