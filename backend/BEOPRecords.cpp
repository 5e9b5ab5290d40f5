#include "backend/BEOPRecords.h"

std::atomic<int> BEOPOperation::live_{0};
