// Two simple statics of the kit.
//
// CPictureStatic: shows one picture (a system icon, a picture file or a PNG
// resource, the first that is set) over a background slice. At its natural
// size in the top-left corner when it fits (always tested for the icon;
// for the others only with fitIfSmaller), otherwise stretched over the
// control. Contract: bind it (it becomes SS_OWNERDRAW and paints itself),
// set the fields, then clear drawn and invalidate.
//
// ChildStatic: a GDI+ text static; with backgroundMode 1 its text is drawn
// once into a cached slice of background PNG. Contract: bind it, set the
// font and colour fields and text (SetText), invalidate.
// UI thread only; GDI+ must be started.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>
#include <string>

#include "app/controls/Kit.h"
#include "app/controls/TextRun.h"
#include "classlib/Wnd.h"

class CPictureStatic : public cl::CWnd {
 public:
  bool drawn = false;  // the cache is valid
  int pngId = 0;
  kit::BackgroundSlice background;  // pngId 0 and no parent DC: own screen content
  DWORD layout = 0;                 // SetLayout value of the cache DC
  const wchar_t* iconName = nullptr;  // a system icon (IDI_*), or null
  std::wstring imagePath;
  bool fitIfSmaller = true;

  void PreSubclassWindow() override;

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  LRESULT OnPaint(WPARAM, LPARAM);
  LRESULT OnEraseBkgnd(WPARAM, LPARAM);
  void RebuildCache();

  kit::MemSurface cache_;
};

class ChildStatic : public cl::CWnd {
 public:
  ChildStatic();
  ~ChildStatic() override;

  void SetText(const std::wstring& text);
  const std::wstring& text() const { return text_; }
  bool SetFontFamily(const wchar_t* face);
  Gdiplus::FontFamily* GetFontFamily();

  kit::BackgroundSlice background;
  int backgroundMode = 0;  // 1: draw into a cached slice of background.pngId
  float fontSize = 28.0f;
  int fontStyle = Gdiplus::FontStyleRegular;
  int fontUnit = Gdiplus::UnitPoint;
  int alignment = Gdiplus::StringAlignmentNear;
  int lineAlignment = Gdiplus::StringAlignmentNear;
  Gdiplus::ARGB textColour = 0xFFFFFFFF;
  TextRunBlock runs;

  void PreSubclassWindow() override;

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  LRESULT OnPaint(WPARAM, LPARAM);
  LRESULT OnEraseBkgnd(WPARAM, LPARAM);
  LRESULT OnSize(WPARAM, LPARAM);
  void DrawText(HDC target, int w, int h);

  std::wstring text_;
  std::unique_ptr<Gdiplus::FontFamily> family_;
  kit::MemSurface cache_;
  bool textDrawn_ = false;
  bool cacheValid_ = false;
};
