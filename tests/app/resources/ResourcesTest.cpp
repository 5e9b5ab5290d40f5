// The program's resources as the program will load them: every string the
// user interface quotes, the two dialog templates with their controls, the
// menus, icons, bitmaps and the panel's PNG (which decodes and draws; a
// truncated copy fails). Template 314 also measures the prefix's dialog
// font: "MS Shell Dlg" 8 pt must give base units 6 x 13.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "app/resources/resource.h"
#include "classlib/Dialog.h"
#include "classlib/GdiPlus.h"
#include "classlib/Resource.h"

namespace {

struct StringCase {
  UINT id;
  const wchar_t* text;
};

const StringCase kStrings[] = {
    {139, L"Tessarine"},
    {142, L"Quillmere Sender for Windows allows you to mirror your Windows desktop or Windows "
          L"application to Apple TV, or Quillmere software receiver wirelessly."},
    {150, L"Next"},
    {151, L"Cancel"},
    {152, L"End User License Agreement"},
    {153, L"Help improve this product by submitting anonymous crash reports, connectivity and "
          L"usage statistics. %s"},
    {154, L"Accept"},
    {155, L"Decline"},
    {162, L"OK"},
    {201, L"Close"},
    {202, L"Do not show this again"},
    {203, L"Unable to mirror Windows screens!"},
    {204, L"Bonjour is required for this software to mirror Windows screens, but was not "
          L"detected on this computer."},
    {207, L"Obtain Bonjour either by installing %s or %s."},
    {208, L"iTunes"},
    {209, L"Bonjour Print Services for Windows"},
    {212, L"Please install Apple Bonjour to enable this feature. You can obtain Bonjour by either "
          L"installing iTunes or Bonjour Print Services for Windows from the following links::"},
    {213, L"This software uses Apple Bonjour Service and it seemed that the service is not "
          L"running properly on your computer."},
    {214, L"Fail to restart Bonjour Service"},
    {215, L" Restart Bonjour Service"},
    {216, L"Quillmere is already running in a different Windows user session."},
    {220, L"Invalid server address"},
    {221, L"Invalid port number"},
    {222, L"Proxy settings"},
    {223, L"No proxy"},
    {224, L"Auto"},
    {225, L"Manual"},
    {226, L"Server"},
    {227, L"Username"},
    {228, L"Password"},
    {229, L"Apply"},
    {238, L"Version"},
    {242, L"Acknowledgements"},
    {278, L"Control"},
    {279, L"Participant"},
    {280, L"Sound"},
    {315, L"Tessarine Password"},
    {316, L"Please enter the password"},
    {317, L"Incorrect password."},
    {318, L"Device Not Found"},
    {319, L"Invalid Connection ID"},
    {320, L"Select a Specific Area"},
    {321, L"Quailty"},
    {322, L"Low(Fast)"},
    {323, L"High"},
    {324, L"Volume"},
    {325, L"FPS"},
    {326, L"Cursor"},
    {327, L"AutoScaling"},
    {328, L"HW Acceleration"},
    {329, L"Proxy"},
    {330, L"Reset"},
    {331, L"Save"},
    {332, L"Fail to Extend Display"},
    {333, L"Click to start Tessarine"},
    {334, L"Fullscreen"},
    {335, L"ExtendDisplay"},
    {336, L"Stop"},
    {337, L"Use Tessarine To:"},
    {338, L"Mirror"},
    {339, L"Extend Desktop"},
    {340, L"Enter a Connection ID / IP Address"},
    {341, L"Enter the ID displayed on your Tessarine device screen to start mirroring."},
    {342, L"Preferences"},
    {343, L"Update"},
    {344, L"Exit"},
    {345, L"en"},
    {346, L"About"},
    {347, L"Could not reach API servers"},
    {348, L"Connection failed - Tessarine is offline"},
    {349, L"Connection failed - check firewall settings"},
};

TEST(Resources, EveryQuotedStringIsThereInEnglish) {
  for (const StringCase& s : kStrings) EXPECT_EQ(cl::LoadResString(s.id), s.text) << "string " << s.id;
  EXPECT_EQ(cl::LoadResString(IDS_APP_NAME), L"Tessarine") << "the header's names agree";
}

struct ControlCase {
  int id;
  const wchar_t* cls;
  bool visible;
};

// The 24 controls of the preferences panel with the classes the control kit
// subclasses: custom statics, picture buttons and check boxes, sliders.
const ControlCase k101[] = {
    {IDC_TITLE, L"Static", true},           {IDC_CLOSE, L"Button", true},
    {IDC_QUALITY_LABEL, L"Static", true},   {IDC_QUALITY_SLIDER, TRACKBAR_CLASSW, true},
    {IDC_QUALITY_LOW, L"Static", true},     {IDC_QUALITY_HIGH, L"Static", true},
    {IDC_VOLUME_LABEL, L"Static", true},    {IDC_VOLUME_SLIDER, TRACKBAR_CLASSW, true},
    {IDC_VOLUME_VALUE, L"Static", true},    {IDC_FPS_LABEL, L"Static", true},
    {IDC_FPS_SLIDER, TRACKBAR_CLASSW, true}, {IDC_FPS_VALUE, L"Static", true},
    {IDC_CURSOR_CHECK, L"Button", true},    {IDC_CURSOR_LABEL, L"Static", true},
    {IDC_AUTOSCALING_CHECK, L"Button", true}, {IDC_AUTOSCALING_LABEL, L"Static", true},
    {IDC_HWACCEL_CHECK, L"Button", true},   {IDC_HWACCEL_LABEL, L"Static", true},
    {IDC_SELECT_AREA, L"Button", true},     {IDC_PROXY, L"Button", true},
    {IDC_RESET, L"Button", true},           {IDC_SAVE, L"Button", true},
    {IDC_STATUS_LINE, L"Static", false},    {IDC_STATS_LINE, L"Static", false},
};

const ControlCase k314[] = {
    {IDOK, L"Button", true},
    {IDCANCEL, L"Button", true},
    {IDC_INPUT_PROMPT, L"Static", true},
    {IDC_INPUT_EDIT, L"Edit", true},
};

// DLGTEMPLATEEX: dlgVer, signature, helpID, exStyle, style, cDlgItems, ...
struct TemplateHead {
  DWORD style;
  WORD items;
};
TemplateHead ReadTemplateHead(UINT id) {
  HRSRC r = FindResourceW(nullptr, MAKEINTRESOURCEW(id), RT_DIALOG);
  const BYTE* p = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, r)));
  TemplateHead h{};
  if (!p || *reinterpret_cast<const WORD*>(p + 2) != 0xFFFF) return h;  // not the extended form
  std::memcpy(&h.style, p + 12, 4);
  std::memcpy(&h.items, p + 16, 2);
  return h;
}

class Templates : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
  }
  // Makes the dialog (hidden), checks its controls, and hands it back.
  void CheckControls(cl::CDialog& dlg, const ControlCase* cases, size_t n) {
    dlg.SetKeepHidden(true);
    ASSERT_TRUE(dlg.Create());
    for (size_t i = 0; i < n; ++i) {
      HWND c = dlg.GetDlgItem(cases[i].id);
      ASSERT_NE(c, nullptr) << "control " << cases[i].id;
      wchar_t cls[64] = {};
      GetClassNameW(c, cls, 64);
      EXPECT_EQ(lstrcmpiW(cls, cases[i].cls), 0) << "control " << cases[i].id;
      EXPECT_EQ(IsWindowVisible(c) != FALSE, cases[i].visible && dlg.IsWindowVisible())
          << "control " << cases[i].id;
      EXPECT_EQ((GetWindowLongW(c, GWL_STYLE) & WS_VISIBLE) != 0, cases[i].visible)
          << "control " << cases[i].id;
    }
    int children = 0;
    for (HWND c = GetWindow(dlg.m_hWnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) ++children;
    EXPECT_EQ(children, static_cast<int>(n));
  }
};

TEST_F(Templates, PreferencesPanelHasItsControlsAndTheVisibleStyle) {
  TemplateHead head = ReadTemplateHead(IDD_PREFERENCES);
  EXPECT_EQ(head.items, 24);
  EXPECT_TRUE(head.style & WS_VISIBLE) << "the main window keeps itself hidden, not the template";
  EXPECT_TRUE(head.style & WS_POPUP);
  cl::CDialog dlg(IDD_PREFERENCES);
  CheckControls(dlg, k101, std::size(k101));
  EXPECT_FALSE(dlg.IsWindowVisible());
  wchar_t cls[16] = {}, caption[32] = {};
  GetClassNameW(dlg.m_hWnd, cls, 16);
  GetWindowTextW(dlg.m_hWnd, caption, 32);
  EXPECT_STREQ(cls, L"#32770");
  EXPECT_STREQ(caption, L"Tessarine");
}

TEST_F(Templates, InputBoxLaysOutInTheDialogFontsBaseUnits) {
  TemplateHead head = ReadTemplateHead(IDD_INPUT_BOX);
  EXPECT_EQ(head.items, 4);
  cl::CDialog dlg(IDD_INPUT_BOX);
  CheckControls(dlg, k314, std::size(k314));
  EXPECT_TRUE(GetWindowLongW(dlg.GetDlgItem(IDOK), GWL_STYLE) & BS_DEFPUSHBUTTON);
  HWND edit = dlg.GetDlgItem(IDC_INPUT_EDIT);
  // The dialog manager may turn the border into a client edge.
  EXPECT_TRUE((GetWindowLongW(edit, GWL_STYLE) & WS_BORDER) ||
              (GetWindowLongW(edit, GWL_EXSTYLE) & WS_EX_CLIENTEDGE))
      << std::hex << GetWindowLongW(edit, GWL_STYLE) << " " << GetWindowLongW(edit, GWL_EXSTYLE);
  EXPECT_TRUE(GetWindowLongW(edit, GWL_STYLE) & ES_AUTOHSCROLL);

  // "MS Shell Dlg" 8 pt (Tahoma in the prefix): 4 x 8 dialog units are 6 x 13 pixels.
  RECT units{0, 0, 4, 8};
  MapDialogRect(dlg.m_hWnd, &units);
  EXPECT_EQ(units.right, 6);
  EXPECT_EQ(units.bottom, 13);
  RECT client;
  GetClientRect(dlg.m_hWnd, &client);
  EXPECT_EQ(client.right, 465);
  EXPECT_EQ(client.bottom, 158);
  RECT ok;
  GetWindowRect(dlg.GetDlgItem(IDOK), &ok);
  MapWindowPoints(nullptr, dlg.m_hWnd, reinterpret_cast<POINT*>(&ok), 2);
  EXPECT_EQ(ok.left, 140);  // 93, 75 in dialog units
  EXPECT_EQ(ok.top, 122);
}

TEST(Resources, MenusHaveTheirItems) {
  HMENU settings = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_SETTINGS_MENU));
  ASSERT_NE(settings, nullptr);
  HMENU sub = GetSubMenu(settings, 0);
  ASSERT_NE(sub, nullptr);
  std::vector<UINT> ids;
  for (int i = 0; i < GetMenuItemCount(sub); ++i) ids.push_back(GetMenuItemID(sub, i));
  EXPECT_EQ(ids, (std::vector<UINT>{ID_PREFERENCES, ID_CHECK_UPDATE, ID_APP_ABOUT, ID_APP_EXIT}));
  EXPECT_EQ(ids, (std::vector<UINT>{32789, 32790, 57664, 57665}));
  DestroyMenu(settings);

  HMENU display = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_DISPLAY_MENU));
  ASSERT_NE(display, nullptr);
  HMENU dsub = GetSubMenu(display, 0);
  ASSERT_NE(dsub, nullptr);
  EXPECT_EQ(GetMenuItemCount(dsub), 1) << "the title; monitors are inserted after it";
  DestroyMenu(display);
}

TEST(Resources, IconsAndBitmapsLoadAtTheirSizes) {
  struct IconCase {
    UINT id;
    int size;
  } icons[] = {{IDI_MAIN, 16}, {IDI_MAIN, 32}, {IDI_TRAY, 16}, {IDI_TRAY, 32}};
  for (const IconCase& c : icons) {
    HICON icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(c.id),
                                               IMAGE_ICON, c.size, c.size, 0));
    ASSERT_NE(icon, nullptr) << "icon " << c.id << " at " << c.size;
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bm{};
    GetObjectW(info.hbmColor, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmWidth, c.size) << "icon " << c.id;
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
  for (UINT id : {IDB_MENU_PREFERENCES, IDB_MENU_UPDATE, IDB_MENU_ABOUT}) {
    HBITMAP b = static_cast<HBITMAP>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, 0));
    ASSERT_NE(b, nullptr) << "bitmap " << id;
    BITMAP bm{};
    GetObjectW(b, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmWidth, 16);
    EXPECT_EQ(bm.bmHeight, 16);
    DeleteObject(b);
  }
}

TEST(Resources, PanelBackgroundDecodesAndDrawsAndATruncatedCopyFails) {
  cl::GdiplusSession gdiplus;
  ASSERT_EQ(gdiplus.Start(), Gdiplus::Ok);
  Gdiplus::Status st = Gdiplus::GenericError;
  auto png = cl::LoadPngResource(IDP_PREFERENCES_BACKGROUND, nullptr, &st);
  ASSERT_NE(png, nullptr);
  EXPECT_EQ(st, Gdiplus::Ok);
  EXPECT_EQ(png->GetWidth(), 300u);
  EXPECT_EQ(png->GetHeight(), 380u);
  Gdiplus::Color c;
  png->GetPixel(150, 10, &c);
  EXPECT_EQ(c.GetValue(), 0xFF3F3F51u) << "title band";
  png->GetPixel(150, 200, &c);
  EXPECT_EQ(c.GetValue(), 0xFFEEE5D9u) << "panel, the sliders' background colour";

  // Drawn to a memory DC as the dialog bases will.
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 300, -380, 1, 32, BI_RGB};
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP dib = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, dib);
  {
    Gdiplus::Graphics g(dc);
    EXPECT_EQ(g.DrawImage(png.get(), 0, 0, 300, 380), Gdiplus::Ok);
  }
  GdiFlush();
  EXPECT_EQ(static_cast<const DWORD*>(bits)[200 * 300 + 150] & 0xFFFFFF, 0xEEE5D9u);
  SelectObject(dc, old);
  DeleteObject(dib);
  DeleteDC(dc);

  HRSRC r = FindResourceW(nullptr, MAKEINTRESOURCEW(IDP_PREFERENCES_BACKGROUND), L"PNG");
  ASSERT_NE(r, nullptr);
  const void* bytes = LockResource(LoadResource(nullptr, r));
  DWORD size = SizeofResource(nullptr, r);
  st = Gdiplus::Ok;
  EXPECT_EQ(cl::DecodePicture(bytes, size / 2, &st), nullptr);
  EXPECT_NE(st, Gdiplus::Ok);
}

}  // namespace
