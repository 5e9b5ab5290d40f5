/* The part of the Microsoft-ABI host written in C: a C host sees the seven
 * functions (C linkage, imported) and the parameter block, nothing of the
 * class. Runs first, before anything has called Nb5TxInit. */
#include "Nb5TxAPI.h"

typedef void (*MismatchFn)(const char* expression, long got, long want, int line);

#define EXPECT_C(expression, want)                                            \
  do {                                                                        \
    long got_ = (long)(expression);                                           \
    if (got_ != (long)(want)) report(#expression, got_, (long)(want), __LINE__); \
  } while (0)

void CHostBeforeInit(MismatchFn report) {
  Nb5TxInitParameters params = {"123", "secret", 0xA5A5A5A5u};
  int command;
  EXPECT_C(Nb5TxGetLastError(), TXAPI_ERR_NOT_INITIALIZED);
  EXPECT_C(Nb5TxIsStopped(), 1);
  EXPECT_C(Nb5TxStop(), 0);
  EXPECT_C(Nb5TxStart(params), 0);
  EXPECT_C(Nb5TxFree(), 0);
  for (command = 0; command <= 2; ++command) EXPECT_C(Nb5TxSendCommand(command, 0), 0);
  EXPECT_C(Nb5TxGetLastError(), TXAPI_ERR_NOT_INITIALIZED);
}
