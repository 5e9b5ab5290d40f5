// The dialog bases of the program's windows.
//
// CDialogExt (and CDialogExt2, the same class under the name the busy
// overlay derives from): a cl::CDialog that lays itself out again from its
// template at 96 DPI (CDialogFont) when its window is made and again when
// it initialises, so skins line up pixel for pixel whatever the system DPI.
//
// CDlgMainBase: a top-level, frameless, round-cornered dialog whose face is
// a PNG (the main window, the first-run wizard frame). Derived classes
// implement InitDialogHook, which runs inside OnInitDialog after the
// template font and the background and before centring; they may set
// `icon` in their constructor and change fontFace.
//
// CDlgChildBase: a page cut out of its owner's background picture (the
// wizard's and the error dialog's pages). Derived classes set offsetX /
// offsetY (where the page lies in the picture) in their constructor and
// implement InitDialogHook; SetupStatic / SetupPictureButton /
// SetupCheckBox give the kit's controls the page's look, SetLinkText and
// SetLinkText2 fill a CCustomStatic with a sentence holding one or two
// links. Enter, Escape and system keys never reach the page.
// UI thread only; GDI+ must be started.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <string>

#include "app/controls/CustomCheckBox.h"
#include "app/controls/CustomStatic.h"
#include "app/controls/DialogFont.h"
#include "app/controls/Kit.h"
#include "app/controls/PictureButton.h"
#include "app/controls/TextRun.h"
#include "classlib/Dialog.h"

class CDialogExt : public cl::CDialog {
 public:
  explicit CDialogExt(UINT templateId, cl::CWnd* parent = nullptr);
  ~CDialogExt() override;

  // The base's initialisation, then the template font at 96 DPI.
  BOOL OnInitDialog() override;

  CDialogFont& dialogFont() { return font_; }
  // Apply of the template font of this dialog at dpi.
  bool ApplyTemplateFont(int dpi);

 protected:
  const cl::MessageMap* GetMessageMap() const override;
  LRESULT OnCreate(WPARAM, LPARAM);
  LRESULT OnDestroy(WPARAM, LPARAM);

  CDialogFont font_;
};

class CDialogExt2 : public CDialogExt {
 public:
  using CDialogExt::CDialogExt;
};

class CDlgMainBase : public CDialogExt {
 public:
  // The parent is not used: these windows are top-level.
  CDlgMainBase(UINT templateId, int pngId, cl::CWnd* parent = nullptr);
  ~CDlgMainBase() override;

  BOOL OnInitDialog() override;
  virtual void InitDialogHook() = 0;
  // The back buffer of the image rectangle's size: the client filled with
  // 0x515151, the image stretched over it.
  virtual void DrawBackground(Gdiplus::Image* image);
  // Loads PNG pngId and sizes the window to it: at (0, 0) at its natural
  // size, or in place at size x scale; one pixel more each way, a 5 x 5
  // rounded region; then draws it (DrawBackground).
  virtual void SetBackgroundImage(int pngId, bool naturalSize, float scale);
  // The main window's label look on a CCustomStatic (null: nothing).
  virtual void SetupStatic(CCustomStatic* s, bool bold, bool centred, float scale);

  // Where a busy overlay shown over this window leaves its edge free
  // (left, top, right, bottom insets of its region). The wizard frame
  // overrides it with (1, 1, 0, 0).
  virtual RECT BusyOverlayInsets() const { return {5, 5, 4, 4}; }

  HICON icon = nullptr;
  int backgroundPng;
  std::wstring fontFace = L"Arial";
  int cornerSize = 5;
  RECT imageRect{};
  HDC backgroundDC() const { return background_.dc(); }

 protected:
  const cl::MessageMap* GetMessageMap() const override;
  LRESULT OnEraseBkgnd(WPARAM, LPARAM);

  kit::MemSurface background_;
};

class CDlgChildBase : public CDialogExt {
 public:
  CDlgChildBase(UINT templateId, int pngId, cl::CWnd* parent = nullptr);
  ~CDlgChildBase() override;

  BOOL PreTranslateMessage(MSG* msg) override;
  BOOL OnInitDialog() override;
  virtual void InitDialogHook() = 0;
  // Draws PNG pngId into the page's background buffer.
  virtual void SetBackground(int pngId);
  // The page's label look; the static paints its background from the
  // page's picture. Returns the PNG id then, 0 otherwise (and for null).
  virtual int SetupStatic(CCustomStatic* s, bool bold, bool centred);
  virtual void SetupPictureButton(CPictureButton* b, bool useBackground);
  virtual void SetupCheckBox(CCustomCheckBox* box, int checkedPng, int uncheckedPng, int disabledPng,
                             bool useBackground);
  virtual void SetLinkText2(CCustomStatic* s, const std::wstring& format, const std::wstring& link1,
                            const std::wstring& target1, const std::wstring& link2, const std::wstring& target2,
                            bool command, int commandId1, int commandId2);
  virtual void SetLinkText(CCustomStatic* s, const std::wstring& format, const std::wstring& linkText,
                           const std::wstring& target, Gdiplus::ARGB plainColour, bool command, int commandId);

  int backgroundPng;
  std::wstring fontFace = L"Arial";
  int offsetX = 0;  // where the page's top-left lies in the picture
  int offsetY = 0;

 protected:
  const cl::MessageMap* GetMessageMap() const override;
  LRESULT OnEraseBkgnd(WPARAM, LPARAM);
  LRESULT OnCreatePage(WPARAM, LPARAM);
  // A control's place in the picture: its position in the page plus the
  // page's offset.
  POINT PictureOffsetOf(HWND control) const;

  kit::MemSurface background_;  // the whole picture
};

namespace kit {

constexpr Gdiplus::ARGB kLinkColour = 0xFE123CEE;
constexpr Gdiplus::ARGB kDialogTextColour = 0xFE515151;

// The run blocks SetLinkText / SetLinkText2 give their static.
// One link: the format's text before its first "%s", the link, then the
// rest of the format without any "%s" (a format without "%s" comes whole
// after the link). An empty link text shows the target.
TextRunBlock BuildLinkText(const std::wstring& format, const std::wstring& linkText, const std::wstring& target,
                           Gdiplus::ARGB plainColour, bool command, int commandId);
// Two links: before the first "%s", link 1, between, link 2, after the
// second (any further "%s" dropped); plain runs in kDialogTextColour.
TextRunBlock BuildLinkText2(const std::wstring& format, const std::wstring& link1, const std::wstring& target1,
                            const std::wstring& link2, const std::wstring& target2, bool command, int commandId1,
                            int commandId2);

// Centres window over reference (when it is another visible window), else
// over the work area of the monitor that holds the window, keeping it on
// that work area.
void CenterWindow(HWND window, HWND reference);

}  // namespace kit
