#include "app/dialogs/DlgOOBE.h"

#include <commctrl.h>

#include <algorithm>

#include "app/resources/resource.h"
#include "classlib/Resource.h"

namespace {

// Where the pages lie in the wizard's picture (and in its client area).
constexpr int kPageOffsetX = 1;
constexpr int kPageOffsetY = 40;
constexpr int kTitleBandHeight = 40;
constexpr int kCornerSize = 11;

constexpr int kPageButtonWidth = 150;
constexpr int kPageButtonHeight = 40;
constexpr Gdiplus::ARGB kPageButtonText = 0xFEFAFAFA;
constexpr Gdiplus::ARGB kConsentTextColour = 0xFE0A0A0A;
constexpr Gdiplus::ARGB kEulaTextColour = 0xFE515151;

RECT WizardPageRect(HWND wizard) {
  RECT r{};
  GetClientRect(wizard, &r);
  return {r.left + kPageOffsetX, r.top + kPageOffsetY, r.right - 1, r.bottom - 4};
}

// A control's rectangle in its parent's client coordinates.
RECT RectInParent(HWND control) {
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

SIZE ClientSizeOf(HWND w) { return kit::ClientSize(w); }

}  // namespace

// ------------------------------------------------------------- licence text

std::wstring EulaTextFromBytes(const void* bytes, size_t size) {
  const size_t units = size / 2;
  if (!bytes || units == 0) return L"";
  const auto* p = static_cast<const unsigned char*>(bytes);
  std::wstring text;
  text.reserve(units);
  for (size_t i = 0; i < units; ++i) text.push_back(static_cast<wchar_t>(p[2 * i] | (p[2 * i + 1] << 8)));
  if (text[0] == 0xFEFF || text[0] == 0xFFFE) text.erase(0, 1);
  return text;
}

std::wstring LoadEulaText() {
  HMODULE module = cl::AfxGetResourceHandle();
  HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(IDR_EULA), L"EULA");
  if (!res) return L"";
  HGLOBAL data = LoadResource(module, res);
  const void* bytes = data ? LockResource(data) : nullptr;
  return bytes ? EulaTextFromBytes(bytes, SizeofResource(module, res)) : L"";
}

int EulaWheelLines(int delta) { return delta / 25; }

// ---------------------------------------------------------------- the pages

CWizardPage::CWizardPage(UINT templateId, cl::CWnd* wizard)
    : CDlgChildBase(templateId, IDP_WIZARD_BACKGROUND, wizard), wizard_(wizard) {
  offsetX = kPageOffsetX;
  offsetY = kPageOffsetY;
}

void CWizardPage::FitToWizard() {
  HWND wizard = GetParent(m_hWnd);
  if (!wizard) return;
  const RECT r = WizardPageRect(wizard);
  MoveWindow(m_hWnd, r.left, r.top, r.right - r.left, r.bottom - r.top, FALSE);
}

void CWizardPage::PostToWizard(UINT message, WPARAM wParam, LPARAM lParam) {
  ::PostMessageW(GetParent(m_hWnd), message, wParam, lParam);
}

void CWizardPage::CancelWizardPage() { PostToWizard(WM_WIZARD_FINISH, 0, 0); }

void CWizardPage::SetupPageButton(CPictureButton& b, int x, int y, UINT textId) {
  MoveWindow(b.m_hWnd, x, y, kPageButtonWidth, kPageButtonHeight, FALSE);
  SetupPictureButton(&b, true);
  const int images[CPictureButton::kStateCount] = {IDP_PAGE_BUTTON_HOVER, IDP_PAGE_BUTTON_NORMAL,
                                                   IDP_PAGE_BUTTON_PRESSED, IDP_PAGE_BUTTON_DISABLED, -1};
  for (int i = 0; i < CPictureButton::kStateCount; ++i) {
    b.states[i].pngId = images[i];
    b.states[i].textColour = i < CPictureButton::kFifth ? kPageButtonText : 0xFF000000;
  }
  b.SetFontFamily(L"Arial");
  b.fontStyle = Gdiplus::FontStyleBold;
  b.hoverStyle = Gdiplus::FontStyleBold;
  b.fontUnit = Gdiplus::UnitPoint;
  b.fontSize = 10.0f * kit::ScreenPointFactor();
  b.caption = cl::LoadResString(textId);
  SetWindowTextW(b.m_hWnd, b.caption.c_str());
  GetClientRect(b.m_hWnd, &b.textRect);
  b.MarkDirty();
}

CPageWelcome::CPageWelcome(cl::CWnd* wizard) : CWizardPage(IDD_PAGE_WELCOME, wizard) {}
CPageWelcome::~CPageWelcome() = default;

const cl::MessageMap* CPageWelcome::GetMessageMap() const {
  static const cl::MessageMap map{CWizardPage::GetMessageMap(),
                                  {
                                      cl::OnCommand(IDC_WELCOME_NEXT, &CPageWelcome::OnNext),
                                      cl::OnCommand(IDC_WELCOME_CANCEL, &CWizardPage::CancelWizardPage),
                                  }};
  return &map;
}

void CPageWelcome::DoDataExchange() {
  DDX_Control(IDC_WELCOME_TEXT, sentence);
  DDX_Control(IDC_WELCOME_PICTURE, picture);
  DDX_Control(IDC_WELCOME_NEXT, next);
  DDX_Control(IDC_WELCOME_CANCEL, cancel);
}

void CPageWelcome::InitDialogHook() {
  FitToWizard();
  const SIZE page = ClientSizeOf(m_hWnd);

  SetupStatic(&sentence, false, false);
  sentence.SetFontSize(9.6f, 14.0f);
  sentence.SetText(cl::LoadResString(IDS_WELCOME_TEXT));

  MoveWindow(picture.m_hWnd, 23, 0, 600, 230, FALSE);
  picture.pngId = IDP_WELCOME_PICTURE;
  picture.background.pngId = IDP_WIZARD_BACKGROUND;
  picture.background.relative = false;
  picture.background.offsetX = 23 + offsetX;
  picture.background.offsetY = 0 + offsetY;
  picture.drawn = false;
  InvalidateRect(picture.m_hWnd, nullptr, FALSE);

  SetupPageButton(next, page.cx - 329, page.cy - 49, IDS_NEXT);
  SetupPageButton(cancel, page.cx - 159, page.cy - 49, IDS_CANCEL);
}

void CPageWelcome::OnNext() { PostToWizard(WM_WIZARD_NEXT, 0, 0); }

CPageEula::CPageEula(cl::CWnd* wizard) : CWizardPage(IDD_PAGE_EULA, wizard) {}
CPageEula::~CPageEula() = default;

const cl::MessageMap* CPageEula::GetMessageMap() const {
  static const cl::MessageMap map{CWizardPage::GetMessageMap(),
                                  {
                                      cl::OnCommand(IDC_EULA_ACCEPT, &CPageEula::OnAccept),
                                      cl::OnCommand(IDC_EULA_DECLINE, &CWizardPage::CancelWizardPage),
                                      cl::OnNotify(NM_CUSTOMDRAW, IDC_EULA_SCROLL, &CPageEula::OnScrollDraw),
                                      cl::OnMessage(WM_MOUSEWHEEL, &CPageEula::OnMouseWheel),
                                  }};
  return &map;
}

void CPageEula::DoDataExchange() {
  DDX_Control(IDC_EULA_TITLE, title);
  DDX_Control(IDC_EULA_TEXT, text);
  DDX_Control(IDC_EULA_SCROLL, scroll);
  DDX_Control(IDC_EULA_CONSENT_BOX, consent);
  DDX_Control(IDC_EULA_CONSENT_TEXT, consentText);
  DDX_Control(IDC_EULA_ACCEPT, accept);
  DDX_Control(IDC_EULA_DECLINE, decline);
}

void CPageEula::SetConsentText(CCustomStatic* s, const std::wstring& format, const std::wstring& linkText,
                               const std::wstring& target) {
  if (!s) return;
  const size_t p = format.find(L"%s");
  TextRunBlock block;
  block.inUse = true;
  TextRun before, link, after;
  before.text = p == std::wstring::npos ? format : format.substr(0, p);
  before.colour = kConsentTextColour;
  link.text = linkText.empty() ? target : linkText;
  link.colour = kit::kLinkColour;
  link.link = true;
  link.target = target;
  after.text = p == std::wstring::npos ? L"" : format.substr(p + 2);
  after.colour = kConsentTextColour;
  for (const TextRun& r : {before, link, after}) {
    block.text += r.text;
    block.runs.push_back(r);
  }
  s->SetRuns(block);
}

void CPageEula::InitDialogHook() {
  FitToWizard();
  const SIZE page = ClientSizeOf(m_hWnd);

  SetupStatic(&title, true, false);
  title.SetFontSize(16.0f, 14.0f);
  title.SetText(cl::LoadResString(IDS_EULA_TITLE));

  RECT r = RectInParent(consentText.m_hWnd);
  MoveWindow(consentText.m_hWnd, r.left + 1, page.cy - 50, r.right - r.left, 50, FALSE);
  SetupStatic(&consentText, false, false);
  SetConsentText(&consentText, cl::LoadResString(IDS_EULA_CRASH_REPORTS), L"", L"");
  consentText.textColour = kConsentTextColour;

  SetupPageButton(accept, page.cx - 329, page.cy - 49, IDS_ACCEPT);
  SetupPageButton(decline, page.cx - 159, page.cy - 49, IDS_DECLINE);

  r = RectInParent(consent.m_hWnd);
  MoveWindow(consent.m_hWnd, r.left + 1, page.cy - 40, r.right - r.left, 13, FALSE);
  SetupCheckBox(&consent, IDP_CHECK_CHECKED, IDP_CHECK_UNCHECKED, IDP_CHECK_DISABLED, true);
  consent.checked = true;
  consent.SetState(consent.disabled ? CCustomCheckBox::kCheckedDisabled : CCustomCheckBox::kCheckedNormal);
  CCustomCheckBox::showFocusCues = true;

  text.SetTextColour(kEulaTextColour);
  text.fontSize = 10.0f;
  text.fontStyle = Gdiplus::FontStyleBold;
  r = RectInParent(text.m_hWnd);
  MoveWindow(text.m_hWnd, r.left + 1, 106, r.right - r.left, page.cy - 190, FALSE);
  // The slice of the picture that really lies under the text, so the
  // picture runs on seamlessly behind it.
  const POINT textAt = PictureOffsetOf(text.m_hWnd);
  text.SetBackgroundOffset(textAt.x, textAt.y);
  text.SetText(LoadEulaText() + L"\n");
  EnableWindow(text.m_hWnd, FALSE);

  ::SetParent(scroll.m_hWnd, m_hWnd);
  const int range = std::max(0, text.lineCount - text.visibleLineCount);
  scroll.SendMessage(TBM_SETRANGEMIN, FALSE, 0);
  scroll.SendMessage(TBM_SETRANGEMAX, FALSE, range);
  const POINT scrollAt = PictureOffsetOf(scroll.m_hWnd);
  scroll.SetBackground(scrollAt.x, scrollAt.y);
  SetWindowLongPtrW(scroll.m_hWnd, GWL_STYLE, GetWindowLongPtrW(scroll.m_hWnd, GWL_STYLE) | TBS_FIXEDLENGTH);
  scroll.InitThumb();
  // The trackbar places its thumb anew (at its new length) only when the
  // position changes: without this the first picture shows a thumb a few
  // pixels long.
  if (range > 0) {
    scroll.SendMessage(TBM_SETPOS, FALSE, 1);
    scroll.SendMessage(TBM_SETPOS, TRUE, 0);
  }
}

void CPageEula::OnAccept() {
  if (!consent.checked) PostToWizard(WM_WIZARD_NO_CONSENT, 0, 0);
  PostToWizard(WM_WIZARD_NEXT, 0, 0);
}

void CPageEula::SyncTextToSlider() {
  text.firstVisibleLine = static_cast<int>(scroll.SendMessage(TBM_GETPOS));
  InvalidateRect(text.m_hWnd, nullptr, TRUE);
}

void CPageEula::OnScrollDraw(NMHDR*, LRESULT* result) {
  SyncTextToSlider();
  *result = 0;
}

LRESULT CPageEula::OnMouseWheel(WPARAM wParam, LPARAM) {
  const int position = static_cast<int>(scroll.SendMessage(TBM_GETPOS));
  scroll.SendMessage(TBM_SETPOS, TRUE, position - EulaWheelLines(GET_WHEEL_DELTA_WPARAM(wParam)));
  return Default();
}

// --------------------------------------------------------------- the wizard

CDlgOOBE::CDlgOOBE() : CDlgMainBase(IDD_OOBE, IDP_WIZARD_BACKGROUND, nullptr) {
  icon = LoadIconW(cl::AfxGetResourceHandle(), MAKEINTRESOURCEW(IDI_MAIN));
  cornerSize = kCornerSize;
}

CDlgOOBE::~CDlgOOBE() {
  // The pages are the wizard's children: they go with its window, before
  // their objects do.
  DestroyWindow();
}

const cl::MessageMap* CDlgOOBE::GetMessageMap() const {
  static const cl::MessageMap map{CDlgMainBase::GetMessageMap(),
                                  {
                                      cl::OnMessage(WM_WIZARD_NEXT, &CDlgOOBE::OnWizardNext),
                                      cl::OnMessage(WM_WIZARD_FINISH, &CDlgOOBE::OnWizardFinish),
                                      cl::OnMessage(WM_WIZARD_NO_CONSENT, &CDlgOOBE::OnWizardNoConsent),
                                      cl::OnMessage(WM_LBUTTONDOWN, &CDlgOOBE::OnLButtonDown),
                                      cl::OnMessage(WM_MOVE, &CDlgOOBE::OnMove),
                                      cl::OnMessage(WM_SHOWWINDOW, &CDlgOOBE::OnShowWindow),
                                      cl::OnCommand(IDC_WIZARD_CLOSE, &CDlgOOBE::OnCloseCross),
                                  }};
  return &map;
}

RECT CDlgOOBE::PageRect() const { return WizardPageRect(m_hWnd); }

CWizardPage* CDlgOOBE::CurrentPage() const {
  return currentPage >= 0 && currentPage < static_cast<int>(pages.size()) ? pages[currentPage] : nullptr;
}

void CDlgOOBE::InitDialogHook() {
  SetWindowTextW(m_hWnd, cl::LoadResString(IDS_APP_NAME).c_str());

  RECT client{};
  GetClientRect(m_hWnd, &client);
  const RECT crossRect{client.right - 41, client.top + 8, client.right - 17, client.top + 32};
  if (closeCross.Create(L"", WS_CHILD | WS_VISIBLE | BS_CENTER, crossRect, m_hWnd, IDC_WIZARD_CLOSE)) {
    const int images[CPictureButton::kStateCount] = {IDP_CLOSE_HOVER, IDP_CLOSE_NORMAL, IDP_CLOSE_PRESSED,
                                                     IDP_CLOSE_NORMAL, -1};
    for (int i = 0; i < CPictureButton::kStateCount; ++i) closeCross.states[i].pngId = images[i];
    closeCross.caption.clear();
    closeCross.background.parentDC = backgroundDC();
    closeCross.background.offsetX = crossRect.left;
    closeCross.background.offsetY = crossRect.top;
    GetClientRect(closeCross.m_hWnd, &closeCross.textRect);
    closeCross.MarkDirty();
    closeCross.ShowWindow(SW_HIDE);
  }

  const RECT page = PageRect();
  welcome = std::make_unique<CPageWelcome>(this);
  eula = std::make_unique<CPageEula>(this);
  for (CWizardPage* p : std::initializer_list<CWizardPage*>{welcome.get(), eula.get()}) {
    if (!p->Create(m_hWnd)) continue;
    MoveWindow(p->m_hWnd, page.left, page.top, page.right - page.left, page.bottom - page.top, FALSE);
    p->ShowWindow(SW_HIDE);
    pages.push_back(p);
  }
  currentPage = 0;
  ShowPage(currentPage, true);
}

void CDlgOOBE::ShowPage(int index, bool show) {
  if (index < 0 || index >= static_cast<int>(pages.size())) return;
  pages[index]->ShowWindow(show ? SW_SHOW : SW_HIDE);
  if (show && IsWindowVisible()) ::SetFocus(pages[index]->m_hWnd);
}

LRESULT CDlgOOBE::OnWizardNext(WPARAM, LPARAM) {
  if (currentPage + 1 < static_cast<int>(pages.size())) {
    ShowPage(currentPage, false);
    ++currentPage;
    ShowPage(currentPage, true);
    return 0;
  }
  done = true;
  PostMessage(WM_CLOSE);
  return 0;
}

LRESULT CDlgOOBE::OnWizardFinish(WPARAM wParam, LPARAM) {
  if (wParam == 1) done = true;
  PostMessage(WM_CLOSE);
  return 0;
}

LRESULT CDlgOOBE::OnWizardNoConsent(WPARAM, LPARAM) {
  consent = false;
  return 0;
}

LRESULT CDlgOOBE::OnLButtonDown(WPARAM, LPARAM lParam) {
  const POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  RECT client{};
  GetClientRect(m_hWnd, &client);
  RECT cross{};
  if (closeCross.m_hWnd) cross = RectInParent(closeCross.m_hWnd);
  const bool inBand = pt.y <= kTitleBandHeight && pt.x >= client.left + 4 && pt.x <= client.right - 4;
  if (inBand && !PtInRect(&cross, pt)) SendMessage(WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
  return Default();
}

LRESULT CDlgOOBE::OnMove(WPARAM, LPARAM) { return 0; }

LRESULT CDlgOOBE::OnShowWindow(WPARAM wParam, LPARAM) {
  LRESULT r = Default();
  if (wParam) {
    if (CWizardPage* page = CurrentPage()) ::SetFocus(page->m_hWnd);
  }
  return r;
}

void CDlgOOBE::OnCloseCross() { PostMessage(WM_CLOSE); }
