#include "app/controls/PictureEx.h"

#include <cstring>

#include "app/controls/GifFile.h"
#include "classlib/Gdi.h"
#include "classlib/Resource.h"

namespace {

// An IPicture from bytes: a movable copy that the stream frees on release.
cl::ComPtr<IPicture> DecodeWithOle(const uint8_t* bytes, size_t size) {
  cl::ComPtr<IPicture> picture;
  HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!copy) return picture;
  void* p = GlobalLock(copy);
  std::memcpy(p, bytes, size);
  GlobalUnlock(copy);
  cl::ComPtr<IStream> stream;
  if (FAILED(CreateStreamOnHGlobal(copy, TRUE, stream.put()))) {
    GlobalFree(copy);
    return picture;
  }
  void* out = nullptr;
  if (SUCCEEDED(OleLoadPicture(stream.get(), static_cast<LONG>(size), FALSE, IID_IPicture, &out)))
    picture.reset(static_cast<IPicture*>(out));
  return picture;
}

}  // namespace

CPictureEx::CPictureEx() { stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr); }

CPictureEx::~CPictureEx() {
  Clear();
  if (stopEvent_) CloseHandle(stopEvent_);
}

const cl::MessageMap* CPictureEx::GetMessageMap() const {
  static const cl::MessageMap map{cl::CWnd::GetMessageMap(),
                                  {
                                      cl::OnMessage(WM_PAINT, &CPictureEx::OnPaint),
                                      cl::OnMessage(WM_DESTROY, &CPictureEx::OnDestroy),
                                      cl::OnMessage(WM_ERASEBKGND, &CPictureEx::OnEraseBkgnd),
                                  }};
  return &map;
}

bool CPictureEx::Create(DWORD style, const RECT& rect, HWND parent, UINT id) {
  return CreateEx(0, L"STATIC", L"", style | WS_CHILD, rect, parent, id);
}

bool CPictureEx::LoadFromResource(UINT id) {
  HINSTANCE module = cl::AfxGetResourceHandle();
  HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(id), L"GIF");
  HGLOBAL data = res ? LoadResource(module, res) : nullptr;
  const void* bytes = data ? LockResource(data) : nullptr;
  if (!bytes) return false;
  const DWORD size = SizeofResource(module, res);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!block) return false;
  std::memcpy(GlobalLock(block), bytes, size);
  GlobalUnlock(block);
  const bool ok = LoadFromMemory(block, size);
  GlobalFree(block);
  return ok;
}

bool CPictureEx::LoadFromMemory(HGLOBAL block, DWORD size) {
  Clear();
  const uint8_t* data = block ? static_cast<const uint8_t*>(GlobalLock(block)) : nullptr;
  if (!data) return false;
  bool ok = false;
  if (IsGif(data, size)) {
    isGif_ = true;
    GifInfo info;
    if (ParseGif(data, size, &info)) {
      width_ = info.width;
      height_ = info.height;
      if (info.frames.size() > 1) {
        for (const GifFrameInfo& f : info.frames) {
          std::vector<uint8_t> one = CutGifFrame(data, info, f);
          Frame frame;
          frame.picture = DecodeWithOle(one.data(), one.size());
          if (!frame.picture) continue;  // a frame that does not decode is left out
          frame.left = f.left;
          frame.top = f.top;
          frame.width = f.width;
          frame.height = f.height;
          frame.delay = f.delay;
          frame.disposal = f.disposal;
          frames_.push_back(std::move(frame));
        }
        ok = !frames_.empty() && Prepare(width_, height_);
      } else {
        single_ = DecodeWithOle(data, size);
        ok = single_ && Prepare(width_, height_);
      }
    }
  } else {
    single_ = DecodeWithOle(data, size);
    if (single_) {
      OLE_XSIZE_HIMETRIC hmw = 0;
      OLE_YSIZE_HIMETRIC hmh = 0;
      single_->get_Width(&hmw);
      single_->get_Height(&hmh);
      cl::CClientDC dc(m_hWnd);
      width_ = MulDiv(hmw, GetDeviceCaps(dc, LOGPIXELSX), 2540);
      height_ = MulDiv(hmh, GetDeviceCaps(dc, LOGPIXELSY), 2540);
      ok = Prepare(width_, height_);
    }
  }
  GlobalUnlock(block);
  if (!ok) Clear();
  return ok;
}

bool CPictureEx::Prepare(int w, int h) {
  if (w <= 0 || h <= 0) return false;
  if (m_hWnd)
    SetWindowPos(m_hWnd, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  cl::CClientDC wdc(m_hWnd);
  std::lock_guard<std::mutex> hold(lock_);
  if (!composed_.Create(wdc, w, h)) return false;
  backgroundColour = GetSysColor(COLOR_BTNFACE);
  RECT all{0, 0, w, h};
  FillRect(composed_.dc(), &all, reinterpret_cast<HBRUSH>(COLOR_MENU + 1));
  prepared_ = true;
  return true;
}

bool CPictureEx::RenderPicture(IPicture* picture, int x, int y, int w, int h) {
  OLE_XSIZE_HIMETRIC hmw = 0;
  OLE_YSIZE_HIMETRIC hmh = 0;
  picture->get_Width(&hmw);
  picture->get_Height(&hmh);
  return SUCCEEDED(picture->Render(composed_.dc(), x, y, w, h, 0, hmh, hmw, -hmh, nullptr));
}

bool CPictureEx::Play() {
  if (!prepared_) return false;
  if (isGif_ && frames_.size() > 1) {
    if (thread_) return true;
    stopRequested_ = false;
    thread_ = CreateThread(nullptr, 0, &CPictureEx::ThreadProc, this, CREATE_SUSPENDED, nullptr);
    if (!thread_) return false;
    ResumeThread(thread_);
    return true;
  }
  if (!single_) return false;
  bool ok;
  {
    std::lock_guard<std::mutex> hold(lock_);
    ok = RenderPicture(single_.get(), 0, 0, width_, height_);
  }
  if (ok && m_hWnd) InvalidateRect(m_hWnd, nullptr, FALSE);
  return ok;
}

DWORD WINAPI CPictureEx::ThreadProc(void* self) {
  auto* p = static_cast<CPictureEx*>(self);
  p->running_ = true;
  p->FrameLoop();
  p->running_ = false;
  // The handle is closed by StopAnimation, which waits on it.
  return 0;
}

void CPictureEx::FillBackground(const RECT& r) {
  cl::CBrush brush(CreateSolidBrush(backgroundColour));
  FillRect(composed_.dc(), &r, brush);
}

bool CPictureEx::DrawFrame(size_t i) {
  if (i >= frames_.size() || !frames_[i].picture) return false;
  const Frame& f = frames_[i];
  bool ok;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!composed_.ok()) return false;
    if (f.disposal == 3) {
      cl::CClientDC wdc(nullptr);
      if (saved_.Create(wdc, f.width, f.height))
        BitBlt(saved_.dc(), 0, 0, f.width, f.height, composed_.dc(), f.left, f.top, SRCCOPY);
    }
    ok = RenderPicture(f.picture.get(), f.left, f.top, f.width, f.height);
  }
  if (ok && m_hWnd) InvalidateRect(m_hWnd, nullptr, FALSE);
  return ok;
}

void CPictureEx::DisposeFrame(size_t i) {
  if (i >= frames_.size()) return;
  const Frame& f = frames_[i];
  std::lock_guard<std::mutex> hold(lock_);
  if (!composed_.ok()) return;
  if (f.disposal == 2) {
    FillBackground({f.left, f.top, f.left + f.width, f.top + f.height});
  } else if (f.disposal == 3 && saved_.ok()) {
    BitBlt(composed_.dc(), f.left, f.top, f.width, f.height, saved_.dc(), 0, 0, SRCCOPY);
    saved_.Reset();
  }
}

void CPictureEx::FrameLoop() {
  while (!stopRequested_) {
    const size_t i = static_cast<size_t>(frameIndex_);
    if (i < frames_.size() && frames_[i].picture) {
      DrawFrame(i);
      if (stopRequested_) break;
      WaitForSingleObject(stopEvent_, FrameWaitMs(frames_[i].delay));
      if (stopRequested_) break;
      DisposeFrame(i);
    }
    if (++frameIndex_ >= static_cast<int>(frames_.size())) {
      frameIndex_ = 0;
      std::lock_guard<std::mutex> hold(lock_);
      if (composed_.ok()) FillBackground({0, 0, width_, height_});
    }
  }
}

void CPictureEx::StopAnimation() {
  running_ = false;
  stopRequested_ = true;
  if (stopEvent_) SetEvent(stopEvent_);
  if (thread_) {
    // The thread may be inside a call that waits for this (UI) thread, such
    // as invalidating the control: messages sent to this thread are served
    // while waiting, so it can finish. Bounded at 5 s in all.
    const DWORD start = GetTickCount();
    for (;;) {
      const DWORD spent = GetTickCount() - start;
      if (spent >= 5000) break;
      DWORD r = MsgWaitForMultipleObjects(1, &thread_, FALSE, 5000 - spent, QS_SENDMESSAGE);
      if (r != WAIT_OBJECT_0 + 1) break;
      MSG msg;
      PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  if (stopEvent_) ResetEvent(stopEvent_);
  stopRequested_ = false;
}

void CPictureEx::Clear() {
  StopAnimation();
  single_.reset();
  frames_.clear();
  {
    std::lock_guard<std::mutex> hold(lock_);
    composed_.Reset();
    saved_.Reset();
  }
  paintRect = {};
  isGif_ = false;
  prepared_ = false;
  frameIndex_ = 0;
  width_ = height_ = 0;
  backgroundColour = 0xFFFFFF;
}

COLORREF CPictureEx::ComposedPixel(int x, int y) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!composed_.ok() || x < 0 || y < 0 || x >= width_ || y >= height_) return CLR_INVALID;
  return GetPixel(composed_.dc(), x, y);
}

LRESULT CPictureEx::OnPaint(WPARAM, LPARAM) {
  cl::CPaintDC pdc(m_hWnd);
  std::lock_guard<std::mutex> hold(lock_);
  if (!composed_.ok()) return 0;
  if (IsRectEmpty(&paintRect))
    BitBlt(pdc, 0, 0, width_, height_, composed_.dc(), 0, 0, SRCCOPY);
  else
    BitBlt(pdc, 0, 0, paintRect.right - paintRect.left, paintRect.bottom - paintRect.top, composed_.dc(),
           paintRect.left, paintRect.top, SRCCOPY);
  return 0;
}

LRESULT CPictureEx::OnDestroy(WPARAM, LPARAM) {
  StopAnimation();
  return Default();
}

LRESULT CPictureEx::OnEraseBkgnd(WPARAM, LPARAM) { return TRUE; }
