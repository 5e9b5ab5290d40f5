// Dialog templates (classic and extended) as the dialogs read their
// resources.
#include "app/controls/DialogTemplate.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DialogTemplateInfo info;
  if (!ParseDialogTemplate(data, size, &info)) return 0;
  // Each item takes at least 18 bytes of the template.
  FUZZ_CHECK(info.items.size() <= size / 18);
  FUZZ_CHECK(info.hasFont || info.face.empty());
  return 0;
}
