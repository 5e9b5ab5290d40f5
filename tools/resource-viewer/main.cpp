// resource-viewer DIALOG_ID [SECONDS] [PNG_ID]
// Shows the program's dialog template DIALOG_ID at (40, 40) for SECONDS
// (default 30), with the PNG resource PNG_ID as its background when given,
// then exits. The controls are the plain Windows ones: the control kit is
// not part of this view.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "classlib/Dialog.h"
#include "classlib/GdiPlus.h"

namespace {

class ViewDialog : public cl::CDialog {
 public:
  ViewDialog(UINT id, UINT pngId) : cl::CDialog(id), pngId_(pngId) {}
  void OnCancel() override { PostQuitMessage(0); }
  void OnOK() override { PostQuitMessage(0); }

 protected:
  LRESULT OnEraseBackground(WPARAM w, LPARAM) {
    if (!pngId_) return Default();
    if (!png_) png_ = cl::LoadPngResource(pngId_);
    if (!png_) return Default();
    Gdiplus::Graphics g(reinterpret_cast<HDC>(w));
    g.DrawImage(png_.get(), 0, 0, png_->GetWidth(), png_->GetHeight());
    return 1;
  }
  const cl::MessageMap* GetMessageMap() const override {
    static const cl::MessageMap map{cl::CDialog::GetMessageMap(),
                                    {cl::OnMessage(WM_ERASEBKGND, &ViewDialog::OnEraseBackground)}};
    return &map;
  }

 private:
  UINT pngId_;
  std::unique_ptr<Gdiplus::Bitmap> png_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: resource-viewer DIALOG_ID [SECONDS] [PNG_ID]\n");
    return 2;
  }
  UINT id = static_cast<UINT>(std::atoi(argv[1]));
  int seconds = argc > 2 ? std::atoi(argv[2]) : 30;
  UINT pngId = argc > 3 ? static_cast<UINT>(std::atoi(argv[3])) : 0;
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  cl::GdiplusSession gdiplus;
  gdiplus.Start();
  ViewDialog dlg(id, pngId);
  if (!dlg.Create()) {
    std::fprintf(stderr, "no dialog template %u\n", id);
    return 1;
  }
  SetWindowPos(dlg.m_hWnd, HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  SetTimer(nullptr, 0, static_cast<UINT>(seconds) * 1000, nullptr);
  MSG msg;
  while (cl::PumpMessage(&msg)) {
    if (msg.message == WM_TIMER && msg.hwnd == nullptr) break;
  }
  dlg.DestroyWindow();
  return 0;
}
