// Reading dialog templates (the RT_DIALOG resource layout), classic
// (DLGTEMPLATE/DLGITEMTEMPLATE) and extended (DLGTEMPLATEEX/
// DLGITEMTEMPLATEEX) alike. Plain bytes in, plain values out: no Windows
// headers, and nothing is read past the size given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DialogTemplateItem {
  uint32_t id = 0;
  int16_t x = 0, y = 0, cx = 0, cy = 0;  // dialog units
};

struct DialogTemplateInfo {
  bool extended = false;
  uint32_t style = 0;
  uint32_t exStyle = 0;
  bool hasMenu = false;
  int16_t x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  bool hasFont = false;                  // DS_SETFONT (0x40)
  int pointSize = 0;                     // magnitude of the signed 16-bit value
  int weight = 0;                        // extended form only; 0 otherwise
  bool italic = false;                   // extended form only
  std::wstring face;
  std::vector<DialogTemplateItem> items;  // as many as could be read, in order
};

// Parses the header, the font and the items. False when even the header,
// its menu/class/title fields or the font cannot be read within `size`;
// items that would reach past the end are left out (the count read is
// items.size()).
bool ParseDialogTemplate(const void* data, size_t size, DialogTemplateInfo* info);
