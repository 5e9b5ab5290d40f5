#include "app/controls/DialogBases.h"

#include <memory>

#include "classlib/Resource.h"
#include "classlib/WinApp.h"

// ---------------------------------------------------------------- CDialogExt

CDialogExt::CDialogExt(UINT templateId, cl::CWnd* parent) : cl::CDialog(templateId, parent) {}

CDialogExt::~CDialogExt() { font_.Restore(); }

const cl::MessageMap* CDialogExt::GetMessageMap() const {
  static const cl::MessageMap map{cl::CDialog::GetMessageMap(),
                                  {
                                      cl::OnMessage(WM_CREATE, &CDialogExt::OnCreate),
                                      cl::OnMessage(WM_DESTROY, &CDialogExt::OnDestroy),
                                  }};
  return &map;
}

bool CDialogExt::ApplyTemplateFont(int dpi) {
  return font_.Apply(cl::AfxGetResourceHandle(), m_hWnd, GetTemplateId(), dpi);
}

LRESULT CDialogExt::OnCreate(WPARAM, LPARAM) {
  if (Default() == -1) return -1;
  ApplyTemplateFont(96);
  return 0;
}

LRESULT CDialogExt::OnDestroy(WPARAM, LPARAM) {
  // The controls get their template font back while they still exist, so
  // none is left holding ours when it is deleted.
  font_.Restore();
  return Default();
}

BOOL CDialogExt::OnInitDialog() {
  if (!cl::CDialog::OnInitDialog()) return FALSE;
  ApplyTemplateFont(96);
  return TRUE;
}

// -------------------------------------------------------------- CDlgMainBase

CDlgMainBase::CDlgMainBase(UINT templateId, int pngId, cl::CWnd*)
    : CDialogExt(templateId, nullptr), backgroundPng(pngId) {}

CDlgMainBase::~CDlgMainBase() = default;

const cl::MessageMap* CDlgMainBase::GetMessageMap() const {
  static const cl::MessageMap map{CDialogExt::GetMessageMap(),
                                  {
                                      cl::OnMessage(WM_ERASEBKGND, &CDlgMainBase::OnEraseBkgnd),
                                  }};
  return &map;
}

BOOL CDlgMainBase::OnInitDialog() {
  if (!CDialogExt::OnInitDialog()) return FALSE;
  if (icon) {
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  }
  SetBackgroundImage(backgroundPng, true, 1.0f);
  InitDialogHook();
  cl::CWinApp* app = cl::AfxGetApp();
  kit::CenterWindow(m_hWnd, app ? cl::SafeHwnd(app->GetMainWnd()) : nullptr);
  return TRUE;
}

void CDlgMainBase::SetBackgroundImage(int pngId, bool naturalSize, float scale) {
  backgroundPng = pngId;
  std::unique_ptr<Gdiplus::Image> png;
  if (pngId <= 0 || !LoadPngResource(static_cast<UINT>(pngId), &png)) return;
  RECT wr{};
  GetWindowRect(m_hWnd, &wr);
  if (GetStyle() & WS_CHILD) MapWindowPoints(nullptr, ::GetParent(m_hWnd), reinterpret_cast<POINT*>(&wr), 2);
  int x = wr.left, y = wr.top;
  int w = static_cast<int>(png->GetWidth()), h = static_cast<int>(png->GetHeight());
  if (naturalSize) {
    x = y = 0;
  } else {
    w = static_cast<int>(static_cast<float>(w) * scale);
    h = static_cast<int>(static_cast<float>(h) * scale);
  }
  imageRect = {0, 0, w, h};
  MoveWindow(m_hWnd, x, y, w + 1, h + 1, TRUE);
  RECT client{};
  GetClientRect(m_hWnd, &client);
  HRGN region = CreateRoundRectRgn(client.left, client.top, client.right, client.bottom, cornerSize, cornerSize);
  if (region && !SetWindowRgn(m_hWnd, region, TRUE)) DeleteObject(region);  // the window owns it on success
  DrawBackground(png.get());
}

void CDlgMainBase::DrawBackground(Gdiplus::Image* image) {
  cl::CClientDC wdc(m_hWnd);
  const int w = imageRect.right - imageRect.left, h = imageRect.bottom - imageRect.top;
  if (!background_.Create(wdc, w, h)) return;
  RECT client{};
  GetClientRect(m_hWnd, &client);
  cl::CBrush fill(CreateSolidBrush(RGB(0x51, 0x51, 0x51)));
  FillRect(background_.dc(), &client, fill);
  kit::DrawImageOn(background_.dc(), image, 0, 0, w, h);
}

LRESULT CDlgMainBase::OnEraseBkgnd(WPARAM wParam, LPARAM) {
  if (backgroundPng > 0 && background_.ok()) {
    HDC dc = reinterpret_cast<HDC>(wParam);
    SetBkMode(dc, TRANSPARENT);
    SIZE sz = kit::ClientSize(m_hWnd);
    BitBlt(dc, 0, 0, sz.cx, sz.cy, background_.dc(), 0, 0, SRCCOPY);
  }
  return 1;
}

void CDlgMainBase::SetupStatic(CCustomStatic* s, bool bold, bool centred, float scale) {
  if (!s) return;
  s->fontStyle = bold ? Gdiplus::FontStyleBold : Gdiplus::FontStyleRegular;
  s->SetFontFamily(fontFace.c_str());
  s->textColour = kit::kDialogTextColour;
  s->SetFontSize(9.6f * scale, 14.0f);
  s->SetAlignment(centred ? Gdiplus::StringAlignmentCenter : Gdiplus::StringAlignmentNear);
}

// ------------------------------------------------------------- CDlgChildBase

CDlgChildBase::CDlgChildBase(UINT templateId, int pngId, cl::CWnd* parent)
    : CDialogExt(templateId, parent), backgroundPng(pngId) {}

CDlgChildBase::~CDlgChildBase() = default;

const cl::MessageMap* CDlgChildBase::GetMessageMap() const {
  static const cl::MessageMap map{CDialogExt::GetMessageMap(),
                                  {
                                      cl::OnMessage(WM_ERASEBKGND, &CDlgChildBase::OnEraseBkgnd),
                                      cl::OnMessage(WM_CREATE, &CDlgChildBase::OnCreatePage),
                                  }};
  return &map;
}

LRESULT CDlgChildBase::OnCreatePage(WPARAM, LPARAM) {
  if (Default() == -1) return -1;
  ApplyTemplateFont(96);
  SetBackground(backgroundPng);
  return 0;
}

BOOL CDlgChildBase::OnInitDialog() {
  if (cl::CDialog::OnInitDialog()) ApplyTemplateFont(96);
  InitDialogHook();
  return TRUE;
}

BOOL CDlgChildBase::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE)) return TRUE;
  if (msg->message == WM_SYSKEYDOWN) return TRUE;
  if (msg->message == WM_LBUTTONDOWN) ::SetFocus(m_hWnd);
  return CDialogExt::PreTranslateMessage(msg);
}

void CDlgChildBase::SetBackground(int pngId) {
  backgroundPng = pngId;
  // The whole picture is kept and the page's part copied from its offset
  // when erasing, so the offset may be set or changed after this.
  std::unique_ptr<Gdiplus::Image> png;
  if (pngId <= 0 || !LoadPngResource(static_cast<UINT>(pngId), &png)) {
    background_.Reset();
    return;
  }
  cl::CClientDC wdc(m_hWnd);
  const int w = static_cast<int>(png->GetWidth()), h = static_cast<int>(png->GetHeight());
  if (background_.Create(wdc, w, h)) kit::DrawImageOn(background_.dc(), png.get(), 0, 0, w, h);
}

LRESULT CDlgChildBase::OnEraseBkgnd(WPARAM wParam, LPARAM) {
  if (backgroundPng > 0 && background_.ok()) {
    SIZE sz = kit::ClientSize(m_hWnd);
    BitBlt(reinterpret_cast<HDC>(wParam), 0, 0, sz.cx, sz.cy, background_.dc(), offsetX, offsetY, SRCCOPY);
  }
  return 1;
}

POINT CDlgChildBase::PictureOffsetOf(HWND control) const {
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
  return {r.left + offsetX, r.top + offsetY};
}

int CDlgChildBase::SetupStatic(CCustomStatic* s, bool bold, bool centred) {
  if (!s) return 0;
  s->fontStyle = bold ? Gdiplus::FontStyleBold : Gdiplus::FontStyleRegular;
  s->SetFontFamily(fontFace.c_str());
  s->textColour = kit::kDialogTextColour;
  s->SetFontSize(9.0f, 14.0f);
  s->SetAlignment(centred ? Gdiplus::StringAlignmentCenter : Gdiplus::StringAlignmentNear);
  if (backgroundPng <= 0) return 0;
  POINT o = PictureOffsetOf(s->m_hWnd);
  s->background.Free();
  s->background.pngId = backgroundPng;
  s->background.parentDC = nullptr;
  s->background.relative = false;
  s->background.offsetX = o.x;
  s->background.offsetY = o.y;
  s->useBackground = true;
  return backgroundPng;
}

void CDlgChildBase::SetupPictureButton(CPictureButton* b, bool useBackground) {
  if (!b) return;
  b->fontSize = kit::ScreenPointFactor() * 10.0f;
  const Gdiplus::ARGB colours[CPictureButton::kStateCount] = {0xFE000000, 0xFE000000, 0xFEFFFFFF, 0xFE808080,
                                                             0xFF000000};
  for (int i = 0; i < CPictureButton::kStateCount; ++i) b->states[i].textColour = colours[i];
  b->SetFontFamily(fontFace.c_str());
  if (useBackground) {
    POINT o = PictureOffsetOf(b->m_hWnd);
    b->background.Free();
    b->background.pngId = backgroundPng;
    b->background.relative = false;
    b->background.offsetX = o.x;
    b->background.offsetY = o.y;
  }
  b->MarkDirty();
}

void CDlgChildBase::SetupCheckBox(CCustomCheckBox* box, int checkedPng, int uncheckedPng, int disabledPng,
                                  bool useBackground) {
  if (!box) return;
  box->boxPng[CCustomCheckBox::kCheckedNormal] = box->boxPng[CCustomCheckBox::kCheckedHot] = checkedPng;
  box->boxPng[CCustomCheckBox::kUncheckedNormal] = box->boxPng[CCustomCheckBox::kUncheckedHot] = uncheckedPng;
  box->boxPng[CCustomCheckBox::kCheckedDisabled] = box->boxPng[CCustomCheckBox::kUncheckedDisabled] = disabledPng;
  box->SetFontFamily(fontFace.c_str());
  box->textColour = kit::kDialogTextColour;
  box->fontSize = kit::ScreenPointFactor() * 9.6f;
  box->boxSize = 13;
  if (useBackground) {
    POINT o = PictureOffsetOf(box->m_hWnd);
    box->backgroundOn = true;
    box->background.Free();
    box->background.pngId = backgroundPng;
    box->background.relative = false;
    box->background.offsetX = o.x;
    box->background.offsetY = o.y;
  }
  box->rebuild = true;
  if (box->m_hWnd) InvalidateRect(box->m_hWnd, nullptr, FALSE);
}

void CDlgChildBase::SetLinkText(CCustomStatic* s, const std::wstring& format, const std::wstring& linkText,
                                const std::wstring& target, Gdiplus::ARGB plainColour, bool command, int commandId) {
  if (s) s->SetRuns(kit::BuildLinkText(format, linkText, target, plainColour, command, commandId));
}

void CDlgChildBase::SetLinkText2(CCustomStatic* s, const std::wstring& format, const std::wstring& link1,
                                 const std::wstring& target1, const std::wstring& link2,
                                 const std::wstring& target2, bool command, int commandId1, int commandId2) {
  if (s) s->SetRuns(kit::BuildLinkText2(format, link1, target1, link2, target2, command, commandId1, commandId2));
}

// ----------------------------------------------------------------- helpers

namespace kit {

namespace {

std::wstring WithoutPlaceholders(std::wstring s) {
  for (size_t p; (p = s.find(L"%s")) != std::wstring::npos;) s.erase(p, 2);
  return s;
}

TextRun PlainRun(const std::wstring& text, Gdiplus::ARGB colour) {
  TextRun r;
  r.text = text;
  r.colour = colour;
  return r;
}

TextRun LinkRun(const std::wstring& text, const std::wstring& target, bool command, int commandId) {
  TextRun r;
  r.text = text.empty() ? target : text;
  r.colour = kLinkColour;
  r.link = true;
  if (command) {
    r.command = true;
    r.commandId = commandId;
  } else {
    r.target = target;
  }
  return r;
}

TextRunBlock Join(std::initializer_list<TextRun> runs) {
  TextRunBlock b;
  b.inUse = true;
  for (const TextRun& r : runs) {
    b.text += r.text;
    b.runs.push_back(r);
  }
  return b;
}

}  // namespace

TextRunBlock BuildLinkText(const std::wstring& format, const std::wstring& linkText, const std::wstring& target,
                           Gdiplus::ARGB plainColour, bool command, int commandId) {
  const size_t p = format.find(L"%s");
  const std::wstring before = p == std::wstring::npos ? L"" : format.substr(0, p);
  const std::wstring after = WithoutPlaceholders(p == std::wstring::npos ? format : format.substr(p));
  return Join({PlainRun(before, plainColour), LinkRun(linkText, target, command, commandId),
               PlainRun(after, plainColour)});
}

TextRunBlock BuildLinkText2(const std::wstring& format, const std::wstring& link1, const std::wstring& target1,
                            const std::wstring& link2, const std::wstring& target2, bool command, int commandId1,
                            int commandId2) {
  const size_t npos = std::wstring::npos;
  const size_t p1 = format.find(L"%s");
  const size_t p2 = p1 == npos ? npos : format.find(L"%s", p1 + 2);
  std::wstring before, between, after;
  if (p1 == npos) {
    after = format;
  } else if (p2 == npos) {
    before = format.substr(0, p1);
    after = WithoutPlaceholders(format.substr(p1 + 2));
  } else {
    before = format.substr(0, p1);
    between = format.substr(p1 + 2, p2 - p1 - 2);
    after = WithoutPlaceholders(format.substr(p2 + 2));
  }
  return Join({PlainRun(before, kDialogTextColour), LinkRun(link1, target1, command, commandId1),
               PlainRun(between, kDialogTextColour), LinkRun(link2, target2, command, commandId2),
               PlainRun(after, kDialogTextColour)});
}

void CenterWindow(HWND window, HWND reference) {
  RECT wr{};
  GetWindowRect(window, &wr);
  const int w = wr.right - wr.left, h = wr.bottom - wr.top;
  MONITORINFO mi{sizeof(mi)};
  GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &mi);
  RECT area = mi.rcWork;
  RECT around = area;
  if (reference && reference != window && IsWindowVisible(reference) && !IsIconic(reference))
    GetWindowRect(reference, &around);
  int x = around.left + ((around.right - around.left) - w) / 2;
  int y = around.top + ((around.bottom - around.top) - h) / 2;
  if (x + w > area.right) x = area.right - w;
  if (y + h > area.bottom) y = area.bottom - h;
  if (x < area.left) x = area.left;
  if (y < area.top) y = area.top;
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace kit
