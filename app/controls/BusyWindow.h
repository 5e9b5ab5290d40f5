// The busy overlay: a translucent, round-cornered popup laid over a window
// while something runs, with an animated picture (GIF 131) and a line of
// text. One overlay at a time, shown and hidden with ShowBusyWindow.
//
// Contract: ShowBusyWindow(window, true, colour) on the UI thread lays a
// new overlay over `window` (an earlier one goes first); ShowBusyWindow(
// nullptr or any, false) takes it away. The overlay follows nothing: hide
// it before moving or closing the window under it. Over a CDlgMainBase its
// region keeps that window's BusyOverlayInsets free; over a CPictureButton
// it has no region and the picture fills the button.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <mutex>

#include "app/controls/DialogBases.h"
#include "app/controls/PictureEx.h"
#include "app/controls/Statics.h"

// Guards the one overlay of the process.
extern std::mutex g_mtxBusyWindow;

class DlgRefreshInfo : public CDialogExt2 {
 public:
  static constexpr UINT kTemplateId = 103;
  static constexpr UINT kTextId = 1002;
  static constexpr UINT kPictureId = 1003;
  static constexpr UINT kGifId = 131;

  DlgRefreshInfo(HWND parent, Gdiplus::ARGB background = 0xFF000000);
  ~DlgRefreshInfo() override;

  BOOL OnInitDialog() override;
  void DoDataExchange() override;

  ChildStatic text;
  CPictureEx picture;
  UINT gifId = kGifId;
  Gdiplus::ARGB background;
  HWND parentWindow() const { return parent_; }

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  LRESULT OnEraseBkgnd(WPARAM, LPARAM);
  LRESULT OnSize(WPARAM, LPARAM);
  bool ParentIsPictureButton() const;

  HWND parent_;
};

// show: replaces any overlay with a new one over parent's window rectangle
// in `background` colour (alpha 100 of 255); without a parent nothing is
// shown (logged). hide: destroys the overlay, if any.
void ShowBusyWindow(HWND parent, bool show, Gdiplus::ARGB background = 0xFF000000);

// The overlay now shown, or null (UI thread; for tests and the gallery).
DlgRefreshInfo* CurrentBusyWindow();
