// ui-gallery OUTDIR
// Shows every control of the kit in each of its states, the dialog bases,
// a sample layered dialog, the input box, the error dialog, the busy
// overlay and the frames of GIF 131, and writes a PNG of each (as the
// screen shows it) into OUTDIR with an index.txt that says what each one
// should look like. States are set the way the controls' own handlers set
// them (hover and leave notifications, BM_SETSTATE, focus, enabling); the
// tests drive the same states with real input.
//
// Run it on a display with a compositing manager (run-gallery.sh) so the
// layered windows show blended as on Windows.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Gallery.h"
#include "app/controls/BusyWindow.h"
#include "app/controls/CustomCheckBox.h"
#include "app/controls/CustomEdit.h"
#include "app/controls/CustomStatic.h"
#include "app/controls/DialogBases.h"
#include "app/controls/Layered.h"
#include "app/controls/PictureButton.h"
#include "app/controls/PictureEx.h"
#include "app/controls/Sliders.h"
#include "app/controls/Statics.h"
#include "app/dialogs/DlgError.h"
#include "app/dialogs/DlgInputBox.h"
#include "app/resources/resource.h"
#include "classlib/Dialog.h"
#include "classlib/GdiPlus.h"
#include "classlib/Resource.h"

namespace {

std::wstring g_out;
std::vector<std::pair<std::wstring, std::wstring>> g_index;
int g_failures = 0;

void Pump(DWORD ms) {
  const DWORD start = GetTickCount();
  MSG msg;
  for (;;) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (!cl::WalkPreTranslateTree(&msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
    if (GetTickCount() - start >= ms) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

bool PngEncoder(CLSID* clsid) {
  UINT count = 0, size = 0;
  Gdiplus::GetImageEncodersSize(&count, &size);
  if (!size) return false;
  std::vector<BYTE> buffer(size);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  Gdiplus::GetImageEncoders(count, size, codecs);
  for (UINT i = 0; i < count; ++i) {
    if (wcscmp(codecs[i].MimeType, L"image/png") == 0) {
      *clsid = codecs[i].Clsid;
      return true;
    }
  }
  return false;
}

void Save(Gdiplus::Bitmap& bmp, const std::wstring& name, const std::wstring& what) {
  CLSID png;
  std::wstring path = g_out + L"\\" + name + L".png";
  if (!PngEncoder(&png) || bmp.Save(path.c_str(), &png, nullptr) != Gdiplus::Ok) {
    std::fwprintf(stderr, L"could not write %ls\n", path.c_str());
    ++g_failures;
    return;
  }
  g_index.emplace_back(name + L".png", what);
}

// What the screen shows in r (screen coordinates).
void SaveScreen(RECT r, const std::wstring& name, const std::wstring& what) {
  Pump(150);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY | CAPTUREBLT);
  SelectObject(mem, old);
  {
    Gdiplus::Bitmap out(bmp, nullptr);
    Save(out, name, what);
  }
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
}

RECT Around(HWND w, int margin) {
  RECT r;
  GetWindowRect(w, &r);
  InflateRect(&r, margin, margin);
  return r;
}

// A topmost popup in a plain colour, or a checker board (to see through
// translucent windows).
class Backdrop {
 public:
  Backdrop(const RECT& r, bool checker) : checker_(checker) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &Backdrop::Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"gallery.backdrop";
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    RegisterClassW(&wc);
    hwnd_ = CreateWindowExW(WS_EX_TOOLWINDOW, L"gallery.backdrop", L"", WS_POPUP, r.left, r.top, r.right - r.left,
                            r.bottom - r.top, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
    UpdateWindow(hwnd_);
  }
  ~Backdrop() { DestroyWindow(hwnd_); }
  HWND hwnd() const { return hwnd_; }

 private:
  static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_NCCREATE)
      SetWindowLongPtrW(h, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams));
    auto* self = reinterpret_cast<Backdrop*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    if (m == WM_ERASEBKGND && self) {
      RECT rc;
      GetClientRect(h, &rc);
      HDC dc = reinterpret_cast<HDC>(w);
      HBRUSH a = CreateSolidBrush(RGB(0x30, 0x90, 0x40)), b = CreateSolidBrush(RGB(0xF0, 0xE0, 0x40));
      for (int y = 0; y < rc.bottom; y += 20)
        for (int x = 0; x < rc.right; x += 20) {
          RECT cell{x, y, x + 20, y + 20};
          FillRect(dc, &cell, (!self->checker_ || ((x / 20 + y / 20) % 2)) ? a : b);
        }
      DeleteObject(a);
      DeleteObject(b);
      return 1;
    }
    return DefWindowProcW(h, m, w, l);
  }
  HWND hwnd_ = nullptr;
  bool checker_;
};

class Host : public cl::CDialog {
 public:
  Host() : cl::CDialog(IDD_G_HOST) {}
  ~Host() override { DestroyWindow(); }
  bool Open(int x, int y, int w, int h) {
    if (!Create(nullptr)) return false;
    SetWindowPos(m_hWnd, HWND_TOPMOST, x, y, w, h, SWP_SHOWWINDOW);
    SetForegroundWindow(m_hWnd);
    Pump(100);
    return true;
  }
  HWND Child(const wchar_t* cls, const wchar_t* text, DWORD style, RECT r, UINT id) {
    return CreateWindowExW(0, cls, text, style | WS_CHILD | WS_VISIBLE, r.left, r.top, r.right - r.left,
                           r.bottom - r.top, m_hWnd, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
  }
  void OnOK() override {}
  void OnCancel() override {}
};

// ------------------------------------------------------------ picture button

void PictureButtons() {
  Host host;
  if (!host.Open(40, 40, 260, 90)) return;
  CPictureButton cross, text;
  cross.SubclassWindow(host.Child(L"BUTTON", L"", BS_PUSHBUTTON | WS_TABSTOP, {20, 30, 44, 54}, 100));
  text.SubclassWindow(host.Child(L"BUTTON", L"Close", BS_PUSHBUTTON | WS_TABSTOP, {80, 25, 165, 60}, 101));
  const int crossImages[] = {IDP_CLOSE_HOVER, IDP_CLOSE_NORMAL, IDP_CLOSE_PRESSED, IDP_CLOSE_NORMAL, -1};
  const int textImages[] = {IDP_BUTTON_HOVER, IDP_BUTTON_NORMAL, IDP_BUTTON_PRESSED, IDP_BUTTON_NORMAL, -1};
  const Gdiplus::ARGB colours[] = {0xFE3C3C3C, 0xFE515151, 0xFE000000, 0xFE686868, 0xFF000000};
  for (int i = 0; i < CPictureButton::kStateCount; ++i) {
    cross.states[i].pngId = crossImages[i];
    text.states[i].pngId = textImages[i];
    text.states[i].textColour = colours[i];
  }
  text.SetFontFamily(L"Arial");
  text.fontSize = 12;
  text.fontUnit = Gdiplus::UnitPixel;
  text.fontStyle = Gdiplus::FontStyleBold;
  text.hoverStyle = Gdiplus::FontStyleBold;
  GetClientRect(text.m_hWnd, &text.textRect);
  cross.MarkDirty();
  text.MarkDirty();
  Pump(200);
  RECT area = Around(host.m_hWnd, 0);

  struct State {
    const wchar_t* name;
    const wchar_t* what;
    std::function<void(CPictureButton&)> set, reset;
  } states[] = {
      {L"normal", L"normal: cross PNG 137 (blue), button PNG 172 (light grey), caption dark grey",
       [](CPictureButton&) {}, [](CPictureButton&) {}},
      {L"hover", L"hover: cross PNG 136 (green), button PNG 173 (light blue)",
       [](CPictureButton& b) { b.SendMessage(WM_MOUSEHOVER); },
       [](CPictureButton& b) { b.SendMessage(WM_MOUSELEAVE); }},
      {L"pressed", L"pressed (mouse down over it): cross PNG 138 (red), button PNG 174 (mid blue), caption black",
       [](CPictureButton& b) {
         b.SendMessage(WM_MOUSEHOVER);
         b.SendMessage(BM_SETSTATE, TRUE);
       },
       [](CPictureButton& b) {
         b.SendMessage(BM_SETSTATE, FALSE);
         b.SendMessage(WM_MOUSELEAVE);
       }},
      {L"disabled", L"disabled: the normal pictures (the program gives no disabled picture), caption grey",
       [](CPictureButton& b) { EnableWindow(b.m_hWnd, FALSE); },
       [](CPictureButton& b) { EnableWindow(b.m_hWnd, TRUE); }},
      {L"focused", L"focused: shown as hover (a focused picture button is hot)",
       [](CPictureButton& b) { SetFocus(b.m_hWnd); },
       [](CPictureButton& b) { SetFocus(nullptr); }},
      {L"checked", L"checked: the pressed pictures while the mouse is elsewhere",
       [](CPictureButton& b) {
         b.checked = true;
         InvalidateRect(b.m_hWnd, nullptr, FALSE);
       },
       [](CPictureButton& b) {
         b.checked = false;
         InvalidateRect(b.m_hWnd, nullptr, FALSE);
       }},
  };
  for (auto& s : states) {
    if (std::wstring(s.name) == L"focused") {
      // One focus at a time: the cross, then the button.
      s.set(cross);
      SaveScreen(area, L"picture-button-focused-cross", s.what);
      s.set(text);
      SaveScreen(area, L"picture-button-focused-text", s.what);
      s.reset(text);
      continue;
    }
    s.set(cross);
    s.set(text);
    SaveScreen(area, std::wstring(L"picture-button-") + s.name, s.what);
    s.reset(cross);
    s.reset(text);
    Pump(100);
  }
}

// ------------------------------------------------------------------ check box

void CheckBoxes() {
  Host host;
  if (!host.Open(40, 40, 260, 80)) return;
  CCustomCheckBox boxes[2];
  boxes[0].SubclassWindow(host.Child(L"BUTTON", L"Cursor", BS_AUTOCHECKBOX | WS_TABSTOP, {20, 15, 200, 30}, 110));
  boxes[1].SubclassWindow(
      host.Child(L"BUTTON", L"Box on the right", BS_AUTOCHECKBOX | BS_LEFTTEXT | WS_TABSTOP, {20, 45, 200, 60}, 111));
  for (CCustomCheckBox& b : boxes) {
    b.boxPng[0] = b.boxPng[2] = IDP_CHECK_CHECKED;
    b.boxPng[1] = b.boxPng[3] = IDP_CHECK_UNCHECKED;
    b.boxPng[4] = b.boxPng[5] = IDP_CHECK_DISABLED;
    b.SetFontFamily(L"Arial");
    b.textColour = 0xFE515151;
    b.fontSize = 9.6f * kit::ScreenPointFactor();
    b.boxSize = 13;
    InvalidateRect(b.m_hWnd, nullptr, FALSE);
  }
  Pump(200);
  RECT area = Around(host.m_hWnd, 0);
  const wchar_t* names[] = {L"checked", L"unchecked", L"checked-hot", L"unchecked-hot", L"checked-disabled",
                            L"unchecked-disabled"};
  const wchar_t* what[] = {
      L"checked: PNG 156 (green) box, label grey", L"unchecked: PNG 157 (light steel blue) box",
      L"checked, hover or pressed: PNG 156 (the program shares the checked picture)",
      L"unchecked, hover or pressed: PNG 157", L"checked, disabled: PNG 158 (grey)", L"unchecked, disabled: PNG 158"};
  for (int i = 0; i < 6; ++i) {
    for (CCustomCheckBox& b : boxes) {
      b.checked = i % 2 == 0;
      b.SetState(i);
    }
    SaveScreen(area, std::wstring(L"checkbox-") + names[i], what[i]);
  }
  CCustomCheckBox::showFocusCues = true;
  for (CCustomCheckBox& b : boxes) b.SetState(CCustomCheckBox::kUncheckedNormal);
  SetFocus(boxes[0].m_hWnd);
  Pump(100);
  SaveScreen(area, L"checkbox-focused",
             L"focused with the focus cues on: a dotted rectangle around the upper box's label");
  SetFocus(nullptr);
  CCustomCheckBox::showFocusCues = false;
}

// --------------------------------------------------------------- rich static

void RichStatics() {
  Host host;
  if (!host.Open(40, 40, 460, 200)) return;
  CCustomStatic plain, rich, overflow, centred;
  host.Child(L"BUTTON", L"Next", BS_PUSHBUTTON | WS_TABSTOP, {380, 160, 450, 185}, 124);
  plain.SubclassWindow(host.Child(L"STATIC", L"", SS_LEFT, {10, 10, 450, 35}, 120));
  rich.SubclassWindow(host.Child(L"STATIC", L"", SS_LEFT | WS_TABSTOP, {10, 45, 450, 90}, 121));
  overflow.SubclassWindow(host.Child(L"STATIC", L"", SS_LEFT, {10, 100, 190, 140}, 122));
  centred.SubclassWindow(host.Child(L"STATIC", L"", SS_LEFT, {200, 100, 450, 150}, 123));
  for (CCustomStatic* s : {&plain, &rich, &overflow, &centred}) {
    s->SetFontFamily(L"Arial");
    s->SetFontSize(9.6f, 14);
    s->textColour = 0xFE515151;
  }
  plain.fontStyle = Gdiplus::FontStyleBold;
  plain.SetText(L"Unable to mirror Windows screens!");
  rich.SetRuns(kit::BuildLinkText2(L"Obtain Bonjour either by installing %s or %s.", L"iTunes",
                                   L"https://example.invalid/itunes", L"Bonjour Print Services for Windows",
                                   L"https://example.invalid/bonjour", false, 0, 0));
  std::wstring longText;
  for (int i = 0; i < 6; ++i) longText += L"Bonjour is required for this software. ";
  overflow.SetRuns(kit::BuildLinkText(longText + L"%s", L"more", L"https://example.invalid/", 0xFE515151, false, 0));
  centred.SetAlignment(Gdiplus::StringAlignmentCenter);
  centred.SetLineAlignment(Gdiplus::StringAlignmentCenter);
  centred.SetText(L"Centred both ways in its box");
  Pump(200);
  RECT area = Around(host.m_hWnd, 0);
  SaveScreen(area, L"rich-static-normal",
             L"bold plain label; a sentence with two blue underlined links; a text cut with \"...\" after the last "
             L"word that fits, nothing after it; a label centred both ways");
  SetFocus(rich.m_hWnd);
  Pump(100);
  SaveScreen(area, L"rich-static-focused", L"the links' static focused: a dotted rectangle around \"iTunes\"");
  MSG tab{rich.m_hWnd, WM_KEYDOWN, VK_TAB, 0, 0, {}};
  rich.PreTranslateMessage(&tab);
  Pump(100);
  SaveScreen(area, L"rich-static-focused-second-link",
             L"after Tab: the dotted rectangle around the second link (both of its lines)");
  SetFocus(nullptr);
}

// ---------------------------------------------------------- sliders, statics

void SlidersAndStatics() {
  Host host;
  if (!host.Open(40, 40, 460, 230)) return;
  CCustomSliderCtrl picture;
  picture.SubclassWindow(host.Child(TRACKBAR_CLASSW, L"", TBS_VERT | TBS_FIXEDLENGTH | TBS_NOTICKS | TBS_BOTH,
                                    {10, 10, 26, 210}, 130));
  picture.SetBackground(200, 100);
  picture.InitThumb();
  CColorSlider colour[3];
  for (int i = 0; i < 3; ++i) {
    colour[i].backColour = RGB(0xD9, 0xE5, 0xEE);
    colour[i].backBrush.reset(CreateSolidBrush(colour[i].backColour));
    colour[i].SubclassWindow(host.Child(TRACKBAR_CLASSW, L"", TBS_BOTH | TBS_NOTICKS | WS_TABSTOP,
                                        {40, 10 + 35 * i, 240, 40 + 35 * i}, 131 + i));
    SendMessageW(colour[i].m_hWnd, TBM_SETRANGE, TRUE, MAKELPARAM(0, 100));
    SendMessageW(colour[i].m_hWnd, TBM_SETPOS, TRUE, 30 * (i + 1));
  }
  EnableWindow(colour[2].m_hWnd, FALSE);
  SetFocus(colour[1].m_hWnd);

  CPictureStatic natural, stretched;
  natural.SubclassWindow(host.Child(L"STATIC", L"", SS_LEFT, {260, 10, 340, 80}, 140));
  natural.pngId = IDP_ERROR_ICON;
  stretched.SubclassWindow(host.Child(L"STATIC", L"", SS_LEFT, {350, 10, 380, 30}, 141));
  stretched.pngId = IDP_ERROR_ICON;

  ChildStatic child;
  child.SubclassWindow(host.Child(L"STATIC", L"", SS_LEFT, {40, 120, 440, 150}, 142));
  child.backgroundMode = 1;
  child.background.pngId = IDP_WIZARD_BACKGROUND;
  child.background.offsetX = 0;
  child.background.offsetY = 0;
  child.textColour = 0xFFFFFFFF;
  child.fontSize = 14 * kit::ScreenPointFactor();
  child.fontStyle = Gdiplus::FontStyleBold;
  child.SetFontFamily(L"Arial");
  child.SetText(L"ChildStatic over the wizard's title band");

  CCustomEdit edit;
  edit.SubclassWindow(host.Child(L"EDIT", L"", ES_MULTILINE | WS_DISABLED, {40, 160, 440, 220}, 143));
  edit.fontSize = 14;
  edit.SetTextColour(0xFF3F3F51);
  edit.SetBackgroundOffset(60, 60);
  std::wstring text;
  for (int i = 1; i <= 12; ++i)
    text += L"Line " + std::to_wstring(i) + L" of the licence agreement, drawn by GDI+ over the picture. ";
  edit.SetText(text);
  Pump(300);
  RECT area = Around(host.m_hWnd, 0);
  SaveScreen(area, L"sliders-and-statics",
             L"left: picture slider on a slice of PNG 135 with the grey 4-pixel thumb; three colour sliders on "
             L"0xD9E5EE (normal, focused, disabled); PNG 210 (orange) at natural size and stretched small; "
             L"white bold text on the wizard's dark title band; the licence text over the wizard's grid");
  edit.firstVisibleLine = 3;
  InvalidateRect(edit.m_hWnd, nullptr, FALSE);
  SendMessageW(picture.m_hWnd, TBM_SETPOS, TRUE, 60);
  InvalidateRect(picture.m_hWnd, nullptr, TRUE);
  Pump(200);
  SaveScreen(Around(edit.m_hWnd, 2), L"custom-edit-scrolled",
             L"the licence text scrolled by three of its wrapped lines (the first sentences gone)");
  std::fwprintf(stdout, L"custom edit: %d lines, %d visible\n", edit.lineCount, edit.visibleLineCount);
}

// ------------------------------------------------------------ layered dialog

class SampleLayered : public CTRSDialog {
 public:
  SampleLayered() : CTRSDialog(IDD_G_LAYERED, IDP_ERROR_BACKGROUND) {}
  ~SampleLayered() override { DestroyWindow(); }
  CTRSButton cross, close, box;
  CTRSStatic label;
  std::vector<BYTE> frame;
  int stride = 0, width = 0, height = 0;

  void InitControls() override {
    DDX_Control(IDC_G_CROSS, cross);
    DDX_Control(IDC_G_CLOSE, close);
    DDX_Control(IDC_G_BOX, box);
    DDX_Control(IDC_G_LABEL, label);
    MoveWindow(cross.m_hWnd, 437, 7, 24, 24, FALSE);
    cross.SetImages({IDP_CLOSE_NORMAL, IDP_CLOSE_NORMAL, IDP_CLOSE_HOVER, IDP_CLOSE_PRESSED, 0});
    MoveWindow(close.m_hWnd, 365, 229, 85, 35, FALSE);
    close.SetImages({IDP_BUTTON_NORMAL, IDP_BUTTON_NORMAL, IDP_BUTTON_HOVER, IDP_BUTTON_PRESSED, 0});
    SetWindowTextW(close.m_hWnd, cl::LoadResString(IDS_CLOSE).c_str());
    close.normalColour = 0xFE515151;
    close.disabledColour = 0xFE686868;
    close.hoverColour = 0xFE3C3C3C;
    close.pressedColour = 0xFE000000;
    close.SetFont(L"Arial", 12, Gdiplus::FontStyleBold, Gdiplus::UnitPixel);
    close.UpdateState();
    MoveWindow(box.m_hWnd, 34, 241, 13, 13, FALSE);
    box.SetImages({IDP_CHECK_UNCHECKED, 0, IDP_CHECK_UNCHECKED, IDP_CHECK_CHECKED, IDP_CHECK_CHECKED});
    MoveWindow(label.m_hWnd, 52, 240, 248, 26, FALSE);
    label.SetFontFamily(L"Arial");
    label.textColour = 0xFE515151;
    label.fontSize = kit::ScreenPointFactor() * 9;
    label.text = cl::LoadResString(IDS_DONT_SHOW_AGAIN);
    for (CTRSWnd* c : std::initializer_list<CTRSWnd*>{&cross, &close, &box, &label}) AddChild(c);
  }

 protected:
  void OnComposed(const BYTE* bits, int w, int h, int s) override {
    frame.assign(bits, bits + static_cast<size_t>(s) * h);
    stride = s;
    width = w;
    height = h;
  }
};

void SaveComposed(const SampleLayered& d, const std::wstring& name, const std::wstring& what) {
  // Premultiplied, bottom-up BGRA to straight ARGB.
  Gdiplus::Bitmap out(d.width, d.height, PixelFormat32bppARGB);
  for (int y = 0; y < d.height; ++y)
    for (int x = 0; x < d.width; ++x) {
      const BYTE* p = &d.frame[static_cast<size_t>(d.height - 1 - y) * d.stride + x * 4];
      const int a = p[3];
      auto un = [a](int c) { return a ? (c * 255 + a / 2) / a : 0; };
      out.SetPixel(x, y, Gdiplus::Color(static_cast<BYTE>(a), static_cast<BYTE>(un(p[2])),
                                        static_cast<BYTE>(un(p[1])), static_cast<BYTE>(un(p[0]))));
    }
  Save(out, name, what);
}

void LayeredDialog() {
  Backdrop checker({300, 150, 1000, 600}, true);
  SampleLayered dlg;
  dlg.centred = false;
  if (!dlg.Create(nullptr)) return;
  SetWindowPos(dlg.m_hWnd, HWND_TOPMOST, 380, 200, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
  dlg.RenderLayered();
  dlg.ShowWindow(SW_SHOWNOACTIVATE);
  Pump(400);
  RECT whole = Around(dlg.m_hWnd, 20);
  SaveScreen(whole, L"layered-dialog",
             L"PNG 200 over a green and yellow checker board: corners show the board, the top edge half "
             L"through, the blue cross, the \"Close\" button, the box and its grey label");
  SaveComposed(dlg, L"layered-dialog-argb", L"the composed picture with its alpha, as handed to Windows");

  struct State {
    const wchar_t* name;
    std::function<void(CTRSButton&)> set;
  } states[] = {
      {L"normal", [](CTRSButton& b) { b.hover = b.pressed = b.checked = false, b.disabled = false; }},
      {L"hover", [](CTRSButton& b) { b.hover = true; }},
      {L"pressed", [](CTRSButton& b) { b.hover = b.pressed = true; }},
      {L"disabled", [](CTRSButton& b) { b.disabled = true; }},
      {L"checked", [](CTRSButton& b) { b.checked = true; }},
  };
  for (const State& s : states) {
    for (CTRSButton* b : {&dlg.cross, &dlg.close, &dlg.box}) {
      b->hover = b->pressed = b->checked = b->disabled = false;
      s.set(*b);
      b->UpdateState();
    }
    dlg.RenderLayered();
    Pump(100);
    RECT both{380 + 20, 200, 380 + 471, 200 + 285};
    SaveScreen(both, std::wstring(L"layered-buttons-") + s.name,
               std::wstring(L"the framework buttons ") + s.name +
                   L" (cross: blue/green/red; Close: grey/light blue/mid blue; box: light steel blue, green when pressed "
                   L"or checked)");
  }
}

// -------------------------------------------------------------- dialog bases

class SamplePage : public CDlgChildBase {
 public:
  SamplePage() : CDlgChildBase(IDD_G_PAGE, IDP_WIZARD_BACKGROUND) {
    offsetX = 1;
    offsetY = 40;
  }
  ~SamplePage() override { DestroyWindow(); }
  CCustomStatic title, links;
  CCustomEdit edit;
  CCustomSliderCtrl slider;
  CCustomCheckBox check;
  CPictureButton button;
  CPictureStatic picture;

  void DoDataExchange() override {
    DDX_Control(IDC_G_TITLE, title);
    DDX_Control(IDC_G_LINKS, links);
    DDX_Control(IDC_G_EDIT, edit);
    DDX_Control(IDC_G_SLIDER, slider);
    DDX_Control(IDC_G_CHECK, check);
    DDX_Control(IDC_G_BUTTON, button);
    DDX_Control(IDC_G_PICTURE, picture);
  }
  void InitDialogHook() override {
    SetupStatic(&title, true, false);
    title.SetFontSize(12, 14);
    title.SetText(cl::LoadResString(IDS_EULA_TITLE));
    SetupStatic(&links, false, false);
    SetLinkText(&links, cl::LoadResString(IDS_EULA_CRASH_REPORTS), L"Privacy policy",
                L"https://example.invalid/privacy", kit::kDialogTextColour, false, 0);
    RECT er;
    GetWindowRect(edit.m_hWnd, &er);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&er), 2);
    edit.fontSize = 14;
    edit.SetTextColour(0xFF3F3F51);
    edit.SetBackgroundOffset(er.left + offsetX, er.top + offsetY);
    std::wstring text;
    for (int i = 1; i <= 30; ++i)
      text += L"Section " + std::to_wstring(i) + L". The licence text is drawn by GDI+ in its own font. ";
    edit.SetText(text);
    RECT sr;
    GetWindowRect(slider.m_hWnd, &sr);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&sr), 2);
    slider.SetBackground(sr.left + offsetX, sr.top + offsetY);
    slider.InitThumb();
    SetupCheckBox(&check, IDP_CHECK_CHECKED, IDP_CHECK_UNCHECKED, IDP_CHECK_DISABLED, true);
    check.checked = true;
    check.SetState(CCustomCheckBox::kCheckedNormal);
    SetupPictureButton(&button, true);
    button.states[0].pngId = IDP_BUTTON_HOVER;
    button.states[1].pngId = IDP_BUTTON_NORMAL;
    button.states[2].pngId = IDP_BUTTON_PRESSED;
    button.states[3].pngId = IDP_BUTTON_NORMAL;
    button.caption = cl::LoadResString(IDS_ACCEPT);
    GetClientRect(button.m_hWnd, &button.textRect);
    button.MarkDirty();
    RECT pr;
    GetWindowRect(picture.m_hWnd, &pr);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&pr), 2);
    picture.pngId = IDP_ERROR_ICON;
    picture.background.pngId = IDP_WIZARD_BACKGROUND;
    picture.background.offsetX = pr.left + offsetX;
    picture.background.offsetY = pr.top + offsetY;
  }
};

class SampleFrame : public CDlgMainBase {
 public:
  SampleFrame() : CDlgMainBase(IDD_G_MAIN, IDP_WIZARD_BACKGROUND) {}
  ~SampleFrame() override {
    page.reset();
    DestroyWindow();
  }
  std::unique_ptr<SamplePage> page;
  CCustomStatic heading;
  void InitDialogHook() override {
    heading.Create(L"", WS_VISIBLE, {20, 8, 400, 34}, m_hWnd, 9650);
    SetupStatic(&heading, true, false, 1.0f);
    heading.textColour = 0xFFFFFFFF;
    heading.SetFontSize(12, 14);
    heading.useBackground = true;
    heading.background.parentDC = backgroundDC();
    RECT r;
    GetWindowRect(heading.m_hWnd, &r);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    heading.background.offsetX = r.left;
    heading.background.offsetY = r.top;
    heading.SetText(L"Welcome (a CDlgMainBase frame over PNG 135)");
  }
  void OnOK() override {}
  void OnCancel() override {}
};

void DialogBases(HWND* frameOut, std::unique_ptr<SampleFrame>* keep) {
  auto frame = std::make_unique<SampleFrame>();
  if (!frame->Create(nullptr)) return;
  SetWindowPos(frame->m_hWnd, HWND_TOPMOST, 300, 100, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  frame->page = std::make_unique<SamplePage>();
  if (frame->page->Create(frame->m_hWnd)) {
    RECT fr;
    GetWindowRect(frame->m_hWnd, &fr);
    SetWindowPos(frame->page->m_hWnd, HWND_TOPMOST, fr.left + 1, fr.top + 40, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  }
  SetForegroundWindow(frame->m_hWnd);
  Pump(400);
  SaveScreen(Around(frame->m_hWnd, 10), L"dialog-bases",
             L"a CDlgMainBase frame (PNG 135, 645 x 514, rounded 5 x 5 corners, white heading on the dark band) "
             L"with a CDlgChildBase page at (1, 40) whose controls paint the picture under them: bold title, "
             L"licence text with its picture slider, a sentence with a link, the checked box, \"Accept\", PNG 210");
  *frameOut = frame->m_hWnd;
  *keep = std::move(frame);
}

// ---------------------------------------------------------------- error dialog

// The error dialog's first Bonjour page with its box, before and after the
// Space bar on the focused box, and the general page.
void ErrorDialogs() {
  Backdrop checker({300, 150, 1000, 600}, true);
  {
    CDlgError dlg(L"", CDlgError::kBonjourAbsent, nullptr, false);
    if (!dlg.Create(nullptr)) {
      ++g_failures;
      return;
    }
    dlg.ShowWindow(SW_SHOW);
    SetForegroundWindow(dlg.m_hWnd);
    Pump(500);
    dlg.SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(dlg.dontShowBox.m_hWnd), TRUE);
    SaveScreen(Around(dlg.m_hWnd, 20), L"error-dialog-bonjour",
               L"the error dialog over a checker board (layered: rounded corners show the board): the Bonjour page "
               L"with the two links and the icon, the box clear (light steel blue) beside \"Do not show this again\"");
    // The box's own keyboard handling, as a Space press and release give it.
    dlg.dontShowBox.SendMessage(WM_KEYDOWN, VK_SPACE, 0);
    dlg.dontShowBox.SendMessage(WM_KEYUP, VK_SPACE, 0xC0000001);
    Pump(200);
    SaveScreen(Around(dlg.m_hWnd, 20), L"error-dialog-bonjour-box-checked",
               L"the same after Space on the focused box: the box checked (green)");
    dlg.DestroyWindow();
  }
  {
    CDlgError dlg(L"Tessarine is already running in a different Windows user session.", CDlgError::kGeneral,
                  nullptr, false);
    if (!dlg.Create(nullptr)) return;
    dlg.ShowWindow(SW_SHOW);
    Pump(500);
    SaveScreen(Around(dlg.m_hWnd, 20), L"error-dialog-general",
               L"the general page: the icon and the message; no box");
    dlg.DestroyWindow();
  }
}

// ------------------------------------------------------------------- input box

class CapturingInputBox : public CDlgInputBox {
 public:
  CapturingInputBox(const std::wstring& title, const std::wstring& prompt, std::wstring name, std::wstring what)
      : CDlgInputBox(title, prompt), name_(std::move(name)), what_(std::move(what)) {}
  BOOL OnInitDialog() override {
    BOOL r = CDlgInputBox::OnInitDialog();
    SetTimer(1, 400);
    return r;
  }
  LRESULT WindowProc(UINT m, WPARAM w, LPARAM l) override {
    if (m == WM_TIMER && w == 1) {
      KillTimer(1);
      // What the user types lands where the focus is (WM_CHAR as typing
      // sends it).
      for (wchar_t c : typed) ::SendMessageW(::GetFocus(), WM_CHAR, c, 0);
      Pump(100);
      SaveScreen(Around(m_hWnd, 4), name_, what_);
      EndDialog(IDCANCEL);
      return 0;
    }
    return CDlgInputBox::WindowProc(m, w, l);
  }
  std::wstring typed;

 private:
  std::wstring name_, what_;
};

void InputBoxes() {
  {
    CapturingInputBox box(cl::LoadResString(IDS_PASSWORD_TITLE), cl::LoadResString(IDS_PASSWORD_PROMPT),
                          L"input-box-password",
                          L"caption \"Tessarine Password\", the prompt centred, OK and Cancel; the six characters "
                          L"typed at once show as six bullets in the edit, the caret after them");
    box.password = true;
    box.typed = L"s3cret";
    box.DoModal();
  }
  {
    CapturingInputBox box(cl::LoadResString(IDS_CONNECT_TITLE),
                          cl::LoadResString(IDS_CONNECT_PROMPT) +
                              L" The ID is shown in large digits under the picture and changes each time the "
                              L"receiver starts.",
                          L"input-box-long-prompt",
                          L"a long prompt: the box is taller and the edit, OK and Cancel move down with the prompt; the edit holds the old text, "
                          L"selected, with the focus (OK is not the focused button)");
    box.result = L"123 456 789";
    box.DoModal();
  }
}

// ---------------------------------------------------------------- busy overlay

void BusyOverlay(HWND over) {
  ShowBusyWindow(over, true, 0xFF000000);
  Pump(900);
  SaveScreen(Around(over, 10), L"busy-overlay",
             L"the busy overlay: black at alpha 100 over the sample frame (its rounded region inset 5, 5, 4, 4), "
             L"GIF 131 playing in the middle");
  ShowBusyWindow(nullptr, false);
}

// ------------------------------------------------------------------ GIF frames

void GifFrames() {
  CPictureEx pic;
  if (!pic.LoadFromResource(IDG_BUSY)) {
    ++g_failures;
    return;
  }
  const int scale = 4;
  for (size_t i = 0; i < pic.frames().size(); ++i) {
    pic.DrawFrame(i);
    for (int after = 0; after < 2; ++after) {
      Gdiplus::Bitmap out(pic.width() * scale, pic.height() * scale, PixelFormat32bppRGB);
      for (int y = 0; y < pic.height(); ++y)
        for (int x = 0; x < pic.width(); ++x) {
          COLORREF c = pic.ComposedPixel(x, y);
          Gdiplus::Color col(GetRValue(c), GetGValue(c), GetBValue(c));
          for (int dy = 0; dy < scale; ++dy)
            for (int dx = 0; dx < scale; ++dx) out.SetPixel(x * scale + dx, y * scale + dy, col);
        }
      const auto& f = pic.frames()[i];
      const std::wstring name = L"gif131-frame-" + std::to_wstring(i) + (after ? L"-disposed" : L"");
      const std::wstring what = L"GIF 131 frame " + std::to_wstring(i) + L" (" + std::to_wstring(f.width) + L"x" +
                                std::to_wstring(f.height) + L" at " + std::to_wstring(f.left) + L"," +
                                std::to_wstring(f.top) + L", delay " + std::to_wstring(f.delay) + L", disposal " +
                                std::to_wstring(f.disposal) + L")" + (after ? L" after its disposal" : L"") + L", 4x";
      Save(out, name, what);
      if (after == 0) pic.DisposeFrame(i);
    }
  }
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  g_out = argc > 1 ? argv[1] : L"ui-gallery";
  CreateDirectoryW(g_out.c_str(), nullptr);
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&icc);
  OleInitialize(nullptr);
  cl::GdiplusSession gdiplus;
  if (gdiplus.Start() != Gdiplus::Ok) return 1;
  {
    Backdrop plain({0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}, false);
    PictureButtons();
    CheckBoxes();
    RichStatics();
    SlidersAndStatics();
    LayeredDialog();
    HWND frame = nullptr;
    std::unique_ptr<SampleFrame> keep;
    DialogBases(&frame, &keep);
    if (frame) BusyOverlay(frame);
    keep.reset();
    InputBoxes();
    ErrorDialogs();
    GifFrames();
  }
  std::wstring index = g_out + L"\\index.txt";
  if (FILE* f = _wfopen(index.c_str(), L"w")) {
    for (const auto& e : g_index) std::fwprintf(f, L"%ls\t%ls\n", e.first.c_str(), e.second.c_str());
    std::fclose(f);
  }
  std::fwprintf(stdout, L"%u pictures in %ls\n", static_cast<unsigned>(g_index.size()), g_out.c_str());
  gdiplus.Shutdown();
  OleUninitialize();
  LocalFree(argv);
  return g_failures ? 1 : 0;
}
