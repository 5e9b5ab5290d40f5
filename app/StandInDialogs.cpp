#include "app/StandInDialogs.h"

#include "app/resources/resource.h"
#include "classlib/Resource.h"
#include "classlib/Str.h"
#include "foundation/log/Logger.h"
#include "foundation/sys/SysUtil.h"

INT_PTR CDlgOOBE::DoModal() {
  ZtLogger::Instance().Info("[UI]first-run wizard: counted as done");
  done = 1;
  return IDOK;
}
