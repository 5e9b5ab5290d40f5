#include "classlib/FormView.h"

#include <algorithm>

namespace cl {

CFormView::CFormView(UINT templateId) : CDialog(templateId, nullptr) {}

const MessageMap* CFormView::GetMessageMap() const {
  static const MessageMap map{CDialog::GetMessageMap(),
                              {
                                  OnMessage(WM_VSCROLL, &CFormView::OnVScroll),
                                  OnMessage(WM_HSCROLL, &CFormView::OnHScroll),
                                  OnMessage(WM_SIZE, &CFormView::OnSize),
                                  OnMessage(WM_MOUSEWHEEL, &CFormView::OnMouseWheel),
                                  OnMessage(WM_CLOSE, &CFormView::OnClose),
                              }};
  return &map;
}

bool CFormView::Create(DWORD style, const RECT& rect, HWND parent, UINT id) {
  CREATESTRUCTW cs{};
  cs.style = style | WS_CHILD;
  cs.x = rect.left;
  cs.y = rect.top;
  cs.cx = rect.right - rect.left;
  cs.cy = rect.bottom - rect.top;
  cs.hwndParent = parent;
  cs.hMenu = reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id));
  if (!PreCreateWindow(cs)) return false;
  if (!CDialog::Create(parent)) return false;
  // The template's own style gives way to the creator's, as a view's does.
  SetWindowLongPtrW(m_hWnd, GWL_STYLE, static_cast<LONG_PTR>((cs.style | WS_CHILD) & ~WS_VISIBLE));
  SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, static_cast<LONG_PTR>(cs.dwExStyle));
  SetWindowLongPtrW(m_hWnd, GWLP_ID, static_cast<LONG_PTR>(id));
  SetWindowPos(m_hWnd, nullptr, cs.x, cs.y, cs.cx, cs.cy, SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  if (cs.style & WS_VISIBLE) ShowWindow(SW_SHOWNA);
  return true;
}

void CFormView::PostNcDestroy() {
  if (autoDelete) delete this;
}

LRESULT CFormView::OnClose(WPARAM, LPARAM) {
  DestroyWindow();
  return 0;
}

void CFormView::SetScrollSizes(SIZE total, SIZE page, SIZE line) {
  total_ = {std::max<LONG>(0, total.cx), std::max<LONG>(0, total.cy)};
  page_ = {page.cx > 0 ? page.cx : total_.cx / 10, page.cy > 0 ? page.cy : total_.cy / 10};
  line_ = {line.cx > 0 ? line.cx : page_.cx / 10, line.cy > 0 ? line.cy : page_.cy / 10};
  if (!m_hWnd) return;
  UpdateBars();
  ScrollToPosition(pos_);
}

POINT CFormView::Clamp(POINT pt) const {
  RECT rc{};
  GetClientRect(m_hWnd, &rc);
  const LONG maxX = std::max<LONG>(0, total_.cx - rc.right);
  const LONG maxY = std::max<LONG>(0, total_.cy - rc.bottom);
  return {std::min(std::max<LONG>(0, pt.x), maxX), std::min(std::max<LONG>(0, pt.y), maxY)};
}

void CFormView::UpdateBars() {
  // Showing one bar narrows the client and can call for the other: two
  // rounds settle it; WM_SIZE from inside comes back here and is let be.
  static thread_local bool inside = false;
  if (inside) return;
  inside = true;
  for (int round = 0; round < 2; ++round) {
    RECT rc{};
    GetClientRect(m_hWnd, &rc);
    SCROLLINFO si{sizeof(si), SIF_RANGE | SIF_PAGE | SIF_POS, 0, 0, 0, 0, 0};
    si.nMax = total_.cy > 0 ? total_.cy - 1 : 0;
    si.nPage = static_cast<UINT>(total_.cy > rc.bottom ? rc.bottom : si.nMax + 1);
    si.nPos = pos_.y;
    SetScrollInfo(m_hWnd, SB_VERT, &si, TRUE);
    si.nMax = total_.cx > 0 ? total_.cx - 1 : 0;
    si.nPage = static_cast<UINT>(total_.cx > rc.right ? rc.right : si.nMax + 1);
    si.nPos = pos_.x;
    SetScrollInfo(m_hWnd, SB_HORZ, &si, TRUE);
  }
  inside = false;
}

void CFormView::ScrollToPosition(POINT pt) {
  pt = Clamp(pt);
  const int dx = pos_.x - pt.x, dy = pos_.y - pt.y;
  if (dx == 0 && dy == 0) return;
  pos_ = pt;
  ScrollWindowEx(m_hWnd, dx, dy, nullptr, nullptr, nullptr, nullptr, SW_SCROLLCHILDREN | SW_INVALIDATE | SW_ERASE);
  SetScrollPos(m_hWnd, SB_VERT, pos_.y, TRUE);
  SetScrollPos(m_hWnd, SB_HORZ, pos_.x, TRUE);
}

int CFormView::NewPosition(int bar, WPARAM code) const {
  const bool vertical = bar == SB_VERT;
  const int pos = vertical ? pos_.y : pos_.x;
  const int page = vertical ? page_.cy : page_.cx;
  const int line = vertical ? line_.cy : line_.cx;
  switch (LOWORD(code)) {
    case SB_LINEUP: return pos - line;
    case SB_LINEDOWN: return pos + line;
    case SB_PAGEUP: return pos - page;
    case SB_PAGEDOWN: return pos + page;
    case SB_TOP: return 0;
    case SB_BOTTOM: return vertical ? total_.cy : total_.cx;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
      SCROLLINFO si{sizeof(si), SIF_TRACKPOS, 0, 0, 0, 0, 0};
      GetScrollInfo(m_hWnd, bar, &si);
      return si.nTrackPos;
    }
    default: return pos;
  }
}

LRESULT CFormView::OnVScroll(WPARAM wParam, LPARAM lParam) {
  if (lParam) return Default();  // a scroll bar control of the view's own
  ScrollToPosition({pos_.x, NewPosition(SB_VERT, wParam)});
  return 0;
}

LRESULT CFormView::OnHScroll(WPARAM wParam, LPARAM lParam) {
  if (lParam) return Default();
  ScrollToPosition({NewPosition(SB_HORZ, wParam), pos_.y});
  return 0;
}

LRESULT CFormView::OnSize(WPARAM, LPARAM) {
  LRESULT r = Default();
  UpdateBars();
  ScrollToPosition(pos_);
  return r;
}

LRESULT CFormView::OnMouseWheel(WPARAM wParam, LPARAM) {
  RECT rc{};
  GetClientRect(m_hWnd, &rc);
  if (total_.cy <= rc.bottom) return 0;
  UINT lines = 3;
  SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
  const int notches = GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA;
  const int step = lines == WHEEL_PAGESCROLL ? page_.cy : static_cast<int>(lines) * line_.cy;
  ScrollToPosition({pos_.x, pos_.y - notches * step});
  return 0;
}

}  // namespace cl
