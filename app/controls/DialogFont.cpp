#include "app/controls/DialogFont.h"

#include <objidl.h>
#include <gdiplus.h>

#include <cstring>
#include <string>

namespace {

bool FaceKnown(const wchar_t* face) {
  Gdiplus::FontFamily f(face);
  return f.GetLastStatus() != Gdiplus::FontFamilyNotFound;
}

int DluToPixels(int dlu, int unit, int divisor) {
  return static_cast<int>(static_cast<double>(dlu) * unit / divisor + 0.5);
}

// Calls f(child, item) for each template item matched to the next child
// with its id in Z order; stops at the first item with no such child.
template <typename F>
void WalkItems(HWND window, const DialogTemplateInfo& info, F f) {
  HWND last = nullptr;
  for (const DialogTemplateItem& item : info.items) {
    HWND c = last ? GetWindow(last, GW_HWNDNEXT) : GetWindow(window, GW_CHILD);
    while (c && (static_cast<UINT>(GetDlgCtrlID(c)) & 0xFFFF) != (item.id & 0xFFFF)) c = GetWindow(c, GW_HWNDNEXT);
    if (!c) return;
    last = c;
    f(c, item);
  }
}

}  // namespace

CDialogFont::~CDialogFont() { Restore(); }

bool CDialogFont::ReadTemplate(DialogTemplateInfo* info) const {
  HRSRC res = FindResourceW(instance_, MAKEINTRESOURCEW(templateId_), RT_DIALOG);
  HGLOBAL data = res ? LoadResource(instance_, res) : nullptr;
  const void* bytes = data ? LockResource(data) : nullptr;
  return bytes && ParseDialogTemplate(bytes, SizeofResource(instance_, res), info);
}

bool CDialogFont::Apply(HINSTANCE instance, HWND window, UINT templateId, int dpi) {
  if (inUse()) Restore();
  templateId_ = templateId;
  window_ = window;
  instance_ = instance;
  DialogTemplateInfo info;
  if (!window || !ReadTemplate(&info)) return false;

  std::wstring face = L"Tahoma";
  int points = 8, weight = FW_NORMAL;
  bool italic = false;
  if (info.hasFont) {
    points = info.pointSize;
    weight = info.weight;
    italic = info.italic;
    face = info.face;
    if (!FaceKnown(face.c_str())) face = FaceKnown(L"Arial") ? L"Arial" : L"MS Shell Dlg";
  }

  const int height = -static_cast<int>(static_cast<double>(points) * dpi / 72.0 + 0.5);
  HFONT font = CreateFontW(height, 0, 0, 0, weight, italic, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, face.c_str());
  if (!font) return false;
  font_ = font;
  previous_ = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
  SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);

  // Base units in the new font. A window DC, not a paint DC: BeginPaint
  // outside WM_PAINT would validate the window and lose a pending repaint.
  {
    HDC dc = GetDC(window);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    SIZE extent{};
    GetTextExtentPoint32A(dc, kLetters, 52, &extent);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    unitY_ = tm.tmHeight;
    unitX_ = (extent.cx / 26 + 1) / 2;
  }

  // The window: a client area of the template's size in these units, grown
  // by the frame the window really has.
  RECT rc{};
  GetClientRect(window, &rc);
  rc.right = rc.left + DluToPixels(info.cx, unitX_, 4);
  rc.bottom = rc.top + DluToPixels(info.cy, unitY_, 8);
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rc), 2);
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
  AdjustWindowRectEx(&rc, style, info.hasMenu || GetMenu(window) != nullptr, exStyle);
  if (style & WS_CHILD) MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rc), 2);
  MoveWindow(window, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, TRUE);

  const int ux = unitX_, uy = unitY_;
  WalkItems(window, info, [&](HWND c, const DialogTemplateItem& item) {
    MoveWindow(c, DluToPixels(item.x, ux, 4), DluToPixels(item.y, uy, 8), DluToPixels(item.cx, ux, 4),
               DluToPixels(item.cy, uy, 8), TRUE);
    SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  });
  return true;
}

void CDialogFont::Restore() {
  if (!inUse()) return;
  if (window_ && IsWindow(window_)) {
    SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(previous_), TRUE);
    DialogTemplateInfo info;
    if (ReadTemplate(&info)) {
      HFONT prev = previous_;
      WalkItems(window_, info, [&](HWND c, const DialogTemplateItem&) {
        SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(prev), TRUE);
      });
    }
  }
  DeleteObject(font_);
  font_ = nullptr;
  previous_ = nullptr;
  window_ = nullptr;
  instance_ = nullptr;
  templateId_ = 0;
}
