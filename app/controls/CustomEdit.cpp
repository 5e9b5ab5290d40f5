#include "app/controls/CustomEdit.h"

namespace {

constexpr Gdiplus::TextRenderingHint kTextHint = Gdiplus::TextRenderingHintClearTypeGridFit;

}  // namespace

CCustomEdit::CCustomEdit() = default;
CCustomEdit::~CCustomEdit() = default;

const cl::MessageMap* CCustomEdit::GetMessageMap() const {
  static const cl::MessageMap map{cl::CWnd::GetMessageMap(),
                                  {
                                      cl::OnMessage(WM_ERASEBKGND, &CCustomEdit::OnEraseBkgnd),
                                      cl::OnMessage(WM_SIZE, &CCustomEdit::OnSize),
                                      cl::OnMessage(WM_PAINT, &CCustomEdit::OnPaint),
                                  }};
  return &map;
}

void CCustomEdit::PreSubclassWindow() {
  wchar_t buffer[1025] = {};
  GetWindowTextW(m_hWnd, buffer, 1025);
  text = buffer;
  SetWindowLongPtrW(m_hWnd, GWL_STYLE, GetWindowLongPtrW(m_hWnd, GWL_STYLE) | 0x000B);
}

Gdiplus::FontFamily* CCustomEdit::Family() {
  if (!family_) family_.reset(new Gdiplus::FontFamily(L"Calibri"));
  return family_.get();
}

int CCustomEdit::CountLines(Gdiplus::Graphics& g, const Gdiplus::Font& font, float w, float h) {
  Gdiplus::StringFormat format;
  format.SetAlignment(Gdiplus::StringAlignmentNear);
  // Whole lines only: a line cut by the bottom edge does not count as
  // visible, or the last line would stay cut at the end of the scroll range.
  format.SetFormatFlags(Gdiplus::StringFormatFlagsLineLimit);
  Gdiplus::RectF box;
  INT fitted = 0, lines = 0;
  g.MeasureString(text.c_str(), -1, &font, Gdiplus::RectF(0, 0, w, h), &format, &box, &fitted, &lines);
  return lines;
}

int CCustomEdit::SetText(const std::wstring& t) {
  text = t;
  if (!m_hWnd) return 1;
  RECT wr{};
  GetWindowRect(m_hWnd, &wr);
  const float w = static_cast<float>(wr.right - wr.left), h = static_cast<float>(wr.bottom - wr.top);
  cl::CClientDC wdc(m_hWnd);
  kit::MemSurface tmp;
  tmp.Create(wdc, 1, 1);
  Gdiplus::Graphics g(tmp.ok() ? tmp.dc() : wdc.get());
  // Measured as painted: the hint changes the glyphs' widths and so where
  // the lines break.
  g.SetTextRenderingHint(kTextHint);
  Gdiplus::Font font(Family(), fontSize, fontStyle, static_cast<Gdiplus::Unit>(fontUnit));
  visibleLineCount = CountLines(g, font, w, h);
  lineCount = CountLines(g, font, w, h + 100000.0f);
  return 1;
}

int CCustomEdit::SetTextColour(Gdiplus::ARGB colour) {
  brush_ = std::make_unique<Gdiplus::SolidBrush>(Gdiplus::Color(colour));
  return 1;
}

int CCustomEdit::SetBackgroundOffset(int x, int y) {
  backgroundMode_ = 1;
  backgroundOn_ = true;
  offsetX_ = x;
  offsetY_ = y;
  std::unique_ptr<Gdiplus::Image> png;
  if (!LoadPngImage(kBackgroundPng, &png)) return 1;
  cl::CClientDC wdc(m_hWnd);
  if (!image_.ok() && !image_.Create(wdc, static_cast<int>(png->GetWidth()), static_cast<int>(png->GetHeight())))
    return 1;
  RECT wr{};
  GetWindowRect(m_hWnd, &wr);
  const int w = wr.right - wr.left, h = wr.bottom - wr.top;
  Gdiplus::Graphics g(image_.dc());
  g.DrawImage(png.get(), Gdiplus::Rect(0, 0, w, h), x, y, w, h, Gdiplus::UnitPixel);
  drawn_ = false;
  InvalidateRect(m_hWnd, nullptr, FALSE);
  return 1;
}

LRESULT CCustomEdit::OnEraseBkgnd(WPARAM, LPARAM) { return 1; }

LRESULT CCustomEdit::OnSize(WPARAM, LPARAM) {
  Default();
  const bool visible = (GetStyle() & WS_VISIBLE) != 0;
  if (visible) ::ShowWindow(m_hWnd, SW_HIDE);
  drawn_ = false;
  InvalidateRect(m_hWnd, nullptr, TRUE);
  UpdateWindow(m_hWnd);
  if (visible) ::ShowWindow(m_hWnd, SW_SHOW);
  return 0;
}

LRESULT CCustomEdit::OnPaint(WPARAM, LPARAM) {
  cl::CPaintDC pdc(m_hWnd);
  RECT wr{};
  GetWindowRect(m_hWnd, &wr);
  const int w = wr.right - wr.left, h = wr.bottom - wr.top;
  if (!back_.Create(pdc, w, h)) return 0;
  if (backgroundOn_ && backgroundMode_ == 1 && image_.ok())
    BitBlt(back_.dc(), 0, 0, w, h, image_.dc(), 0, 0, SRCCOPY);
  else
    kit::CopyOwnScreen(m_hWnd, back_.dc(), w, h);
  drawn_ = true;

  Gdiplus::Graphics g(back_.dc());
  g.SetTextRenderingHint(kTextHint);
  if (Family()->GetLastStatus() == Gdiplus::FontFamilyNotFound) {
    LOGFONTW lf{};
    HFONT windowFont = reinterpret_cast<HFONT>(SendMessage(WM_GETFONT));
    family_.reset(new Gdiplus::FontFamily(windowFont && GetObjectW(windowFont, sizeof(lf), &lf) ? lf.lfFaceName
                                                                                                : L"MS Shell Dlg 2"));
    font_.reset();
  }
  // Owners change the size and style by writing the fields: a font made for
  // other values is made again.
  if (font_ && (fontMadeSize_ != fontSize || fontMadeStyle_ != fontStyle)) font_.reset();
  fontMadeSize_ = fontSize;
  fontMadeStyle_ = fontStyle;
  if (!font_)
    font_ = std::make_unique<Gdiplus::Font>(Family(), fontSize, fontStyle, static_cast<Gdiplus::Unit>(fontUnit));
  if (!brush_) brush_ = std::make_unique<Gdiplus::SolidBrush>(Gdiplus::Color(0xFFFFFFFF));
  const float line = font_->GetHeight(&g);
  const float top = -static_cast<float>(firstVisibleLine) * line;
  Gdiplus::StringFormat format;
  format.SetAlignment(Gdiplus::StringAlignmentNear);
  g.DrawString(text.c_str(), -1, font_.get(),
               Gdiplus::RectF(0, top, static_cast<float>(w), static_cast<float>(h) - top), &format, brush_.get());
  SIZE sz = kit::ClientSize(m_hWnd);
  BitBlt(pdc, 0, 0, sz.cx, sz.cy, back_.dc(), 0, 0, SRCCOPY);
  return 0;
}
