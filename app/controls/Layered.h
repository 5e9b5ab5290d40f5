// The layered-window framework: dialogs whose whole look is one 32-bit
// picture with per-pixel alpha, handed to Windows with UpdateLayeredWindow.
//
// A window updated that way shows only the bitmap it is given, so the
// template's controls stay real child windows for input only (mouse
// messages, WM_COMMAND notifications) and the dialog paints them itself:
// each framework control (CTRSWnd) renders into the dialog's GDI+ Graphics.
// Content that needs ordinary painting goes into owned popup windows laid
// over the dialog.
//
// Contract for a derived dialog (the error and proxy dialogs):
//  - construct with (template id, PNG id, owner); the PNG gives the
//    window's size and look (the caption is stripped at creation);
//  - own the controls as members; in InitControls bind them
//    (DDX_Control / SubclassDlgItem), place and style them, and register
//    each with AddChild in the order they should be drawn;
//  - show and hide controls only through CTRSWnd::ShowWindow, change a
//    button's look through its fields and UpdateState: every change renders
//    the whole dialog again unless `suspended` is set (then call
//    RenderLayered yourself).
// UI thread only; GDI+ must be started.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>
#include <string>
#include <vector>

#include "app/controls/DialogBases.h"
#include "app/controls/TextRun.h"
#include "classlib/Wnd.h"

class CTRSWnd;

class IRenderListener {
 public:
  virtual ~IRenderListener() = default;
  // A child's look changed (image, visibility, enabled state).
  virtual void OnChildChanged(CTRSWnd* child) = 0;
};

// Base of the framework's controls: subclasses a template control.
class CTRSWnd : public cl::CWnd {
 public:
  CTRSWnd();
  ~CTRSWnd() override;

  // Draws the control into the dialog's picture.
  virtual void Render(Gdiplus::Graphics& g) = 0;
  // The window's ShowWindow; a change of visibility tells the listener.
  // Owners show and hide framework controls only through this.
  virtual BOOL ShowWindow(int cmd);
  // Tells the listener the look changed.
  virtual void Invalidate();

  // The control's window rectangle in its parent's client coordinates.
  RECT RectInParent() const;

  std::vector<std::unique_ptr<Gdiplus::Image>> images;  // owned
  IRenderListener* listener = nullptr;                   // set by CTRSDialog::AddChild
  bool disabled = false;
  bool visible = true;

  void PreSubclassWindow() override;

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  LRESULT OnEnable(WPARAM, LPARAM);
};

// The five PNG ids of a CTRSButton; 0 means none.
struct TRSButtonImages {
  UINT normal = 0;
  UINT disabled = 0;
  UINT hover = 0;
  UINT pressed = 0;
  UINT checked = 0;
};

// A framework button: one image per state, the window text over it. Over a
// template push button, check box or radio button (a check box's or radio
// button's release inside toggles `checked`; so does whatever else sets the
// template control's check state, the Space bar on a focused auto check box
// among them, so the picture always shows the state the control has).
class CTRSButton : public CTRSWnd {
 public:
  enum Slot { kNormal = 0, kDisabled = 1, kHover = 2, kPressed = 3, kChecked = 4, kSlotCount = 5 };

  CTRSButton();
  ~CTRSButton() override;

  // Loads the images (the normal one is required) and sizes the control to
  // the normal image. False, with no images, when the normal one is
  // missing or does not load.
  bool SetImages(const TRSButtonImages& ids);
  // Chooses image and text colour from hover / pressed / checked /
  // disabled; tells the listener when the image changed.
  void UpdateState();
  void Invalidate() override { UpdateState(); }
  void Render(Gdiplus::Graphics& g) override;

  // Replaces the caption font.
  void SetFont(const wchar_t* face, float size, int style, int unit);

  Gdiplus::Image* current = nullptr;
  bool hover = false;
  bool pressed = false;
  bool checked = false;
  bool tracking = false;
  Gdiplus::ARGB normalColour = 0xFF000000;
  Gdiplus::ARGB disabledColour = 0xFF000000;
  Gdiplus::ARGB hoverColour = 0xFF000000;
  Gdiplus::ARGB pressedColour = 0xFF000000;

  // The slot of the image now shown (-1 none) and the caption colour.
  int currentSlot() const;
  Gdiplus::ARGB brushColour() const { return brushColour_; }

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  LRESULT OnMouseMove(WPARAM, LPARAM);
  LRESULT OnMouseHover(WPARAM, LPARAM);
  LRESULT OnMouseLeave(WPARAM, LPARAM);
  LRESULT OnLButtonDown(WPARAM, LPARAM);
  LRESULT OnLButtonUp(WPARAM, LPARAM);
  LRESULT OnSetCheck(WPARAM, LPARAM);
  bool IsCheckType() const;
  Gdiplus::Font* GetFont();

  std::unique_ptr<Gdiplus::Font> font_;
  Gdiplus::ARGB brushColour_ = 0xFF000000;
};

// A framework text label; plain text, or a run block (links, commands).
class CTRSStatic : public CTRSWnd {
 public:
  CTRSStatic();
  ~CTRSStatic() override;

  void Render(Gdiplus::Graphics& g) override;
  bool SetFontFamily(const wchar_t* face);
  Gdiplus::FontFamily* GetFontFamily();

  int fontStyle = Gdiplus::FontStyleRegular;
  float fontSize = 28.0f;
  int fontUnit = Gdiplus::UnitPoint;
  int alignment = Gdiplus::StringAlignmentNear;
  int lineAlignment = Gdiplus::StringAlignmentNear;
  Gdiplus::ARGB textColour = 0xFFFFFFFF;
  std::wstring text;
  TextRunBlock runs;
  bool layoutDirty = false;

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  LRESULT OnSetCursor(WPARAM, LPARAM);
  LRESULT OnReflectedCommand(WPARAM, LPARAM);
  void Layout(Gdiplus::Graphics& g, const Gdiplus::Font& font, const RECT& rect);

  std::unique_ptr<Gdiplus::FontFamily> family_;
};

class CTRSDialog : public CDialogExt, public IRenderListener {
 public:
  CTRSDialog(UINT templateId, UINT pngId, cl::CWnd* parent = nullptr);
  ~CTRSDialog() override;

  BOOL OnInitDialog() override;
  // Places, styles and registers (AddChild) the controls.
  virtual void InitControls() = 0;
  // Composes the background and every visible child into one 32-bit
  // picture and hands it to UpdateLayeredWindow.
  virtual void RenderLayered();
  // Loads the PNG again and renders.
  virtual void ReloadBackground();
  // Sets or clears WS_EX_LAYERED.
  virtual void SetLayered(bool on);
  void OnChildChanged(CTRSWnd* child) override;

  void AddChild(CTRSWnd* child);

  BLENDFUNCTION blend{};
  std::unique_ptr<Gdiplus::Image> background;
  bool draggable = false;
  bool centred = true;
  bool suspended = false;
  BYTE sourceAlpha = 255;
  UINT backgroundPng;
  std::vector<CTRSWnd*> children;  // render order; not owned

  // Passes that reached UpdateLayeredWindow.
  int renderCount() const { return renderCount_; }

 protected:
  const cl::MessageMap* GetMessageMap() const override;
  // The composed pixels of a pass (premultiplied BGRA, bottom-up rows of
  // `stride` bytes), just before they go to the screen. Nothing here.
  virtual void OnComposed(const BYTE* bits, int width, int height, int stride) {}

 private:
  LRESULT OnCreateLayered(WPARAM, LPARAM);
  LRESULT OnEraseBkgnd(WPARAM, LPARAM);
  LRESULT OnLButtonDown(WPARAM, LPARAM);

  int renderCount_ = 0;
};
