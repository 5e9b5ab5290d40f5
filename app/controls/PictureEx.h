// CPictureEx: a static that shows a picture and plays an animated GIF on a
// thread of its own. The GIF is cut into one-frame GIFs that the system's
// OLE picture decoder reads one by one; the frames are composed into a
// memory bitmap that WM_PAINT copies to the screen.
//
// Contract: bind it to a template static (or Create it), LoadFromResource
// (type "GIF") or LoadFromMemory, then Play. The control takes the
// picture's size. The animation stops on WM_DESTROY, Clear, a new load, or
// StopAnimation, each waiting at most 5 s for the thread.
//
// Threads: the animation thread composes into the memory bitmap under
// lock_, and WM_PAINT copies it under the same lock; everything else runs on
// the UI thread.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "app/controls/Surface.h"
#include "classlib/ComPtr.h"
#include "classlib/Wnd.h"

class CPictureEx : public cl::CWnd {
 public:
  struct Frame {
    cl::ComPtr<IPicture> picture;
    int width = 0, height = 0, left = 0, top = 0;
    int delay = -1;  // hundredths of a second; -1 without a graphic control extension
    int disposal = 0;
  };

  CPictureEx();
  ~CPictureEx() override;

  bool Create(DWORD style, const RECT& rect, HWND parent, UINT id);

  // The resource of type "GIF" and this id in the resource module.
  bool LoadFromResource(UINT id);
  // The picture in `block` (size bytes): a GIF is cut into its frames,
  // anything else is decoded as one still picture. False, and an empty
  // control, when it cannot be read or decoded.
  bool LoadFromMemory(HGLOBAL block, DWORD size);
  // Starts the animation (a GIF of several frames) or draws the still
  // picture. False when nothing is loaded or the picture would not draw.
  bool Play();
  void StopAnimation();
  void Clear();

  // One step of the animation as the thread takes it: frame i drawn into
  // the composed picture (DrawFrame), and its disposal applied after its
  // wait (DisposeFrame). For a picture that is not playing.
  bool DrawFrame(size_t i);
  void DisposeFrame(size_t i);
  // A pixel of the composed picture (CLR_INVALID outside it).
  COLORREF ComposedPixel(int x, int y);

  RECT paintRect{};  // part of the picture to show; empty: all
  COLORREF backgroundColour = 0xFFFFFF;

  int width() const { return width_; }
  int height() const { return height_; }
  bool isGif() const { return isGif_; }
  bool prepared() const { return prepared_; }
  bool running() const { return running_; }
  bool hasThread() const { return thread_ != nullptr; }
  const std::vector<Frame>& frames() const { return frames_; }

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  LRESULT OnPaint(WPARAM, LPARAM);
  LRESULT OnDestroy(WPARAM, LPARAM);
  LRESULT OnEraseBkgnd(WPARAM, LPARAM);

  bool Prepare(int w, int h);
  bool RenderPicture(IPicture* picture, int x, int y, int w, int h);
  static DWORD WINAPI ThreadProc(void* self);
  void FrameLoop();
  void FillBackground(const RECT& r);

  int width_ = 0, height_ = 0;
  int frameIndex_ = 0;
  bool isGif_ = false;
  std::atomic<bool> running_{false};
  std::atomic<bool> stopRequested_{false};
  bool prepared_ = false;
  kit::MemSurface composed_;
  kit::MemSurface saved_;  // the area under a frame with disposal 3
  HANDLE thread_ = nullptr;
  HANDLE stopEvent_ = nullptr;
  cl::ComPtr<IPicture> single_;
  std::vector<Frame> frames_;
  std::mutex lock_;  // composed_ and saved_
};
