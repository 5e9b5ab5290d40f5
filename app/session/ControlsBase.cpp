#include "app/session/ControlsBase.h"

void CControlsBase::StyleStatic(CCustomStatic* label, bool bold, bool centred, float size, Gdiplus::ARGB colour) {
  if (!label) return;
  label->SetFontFamily(fontFace);
  label->SetFontSize(size, 14.0f);
  label->fontStyle = bold ? Gdiplus::FontStyleBold : Gdiplus::FontStyleRegular;
  label->textColour = colour;
  if (label->m_hWnd) InvalidateRect(label->m_hWnd, nullptr, FALSE);
  label->SetLineAlignment(Gdiplus::StringAlignmentNear);
  label->SetAlignment(centred ? Gdiplus::StringAlignmentCenter : Gdiplus::StringAlignmentNear);
}

void CControlsBase::StyleButton(CPictureButton* button, float size) {
  if (!button) return;
  button->SetFontFamily(fontFace);
  button->fontSize = size * kit::ScreenPointFactor();
  button->fontStyle = Gdiplus::FontStyleRegular;
  const Gdiplus::ARGB colours[CPictureButton::kStateCount] = {0xFFFFFFFF, 0xFF1C1C1C, 0xFF727272, 0xFF808080,
                                                             0xFF000000};
  for (int i = 0; i < CPictureButton::kStateCount; ++i) button->states[i].textColour = colours[i];
  button->MarkDirty();
}
