// The kit's smaller pieces: the font-family fallback, the link sentences
// SetLinkText and SetLinkText2 build, the picture slider's thumb, the
// colour slider, the custom edit's line counts and the picture static.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "KitTest.h"
#include "app/controls/CustomEdit.h"
#include "app/controls/DialogBases.h"
#include "app/controls/Sliders.h"
#include "app/controls/Statics.h"
#include "app/resources/resource.h"

namespace {

using kittest::Rgb;

std::wstring Name(const wchar_t* face) {
  Gdiplus::FontFamily f(face);
  return kit::FamilyName(&f);
}

TEST(FontFallback, Table) {
  const std::wstring arial = Name(L"Arial");
  ASSERT_FALSE(arial.empty()) << "the test prefix maps Arial to an installed face";
  const std::wstring shellDlg2 = Name(L"MS Shell Dlg 2");

  kittest::Host host;
  ASSERT_TRUE(host.Open());
  HWND withFont = host.Child(L"STATIC", L"", 0, {0, 0, 10, 10}, 900);
  HFONT tahoma = CreateFontW(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma");
  SendMessageW(withFont, WM_SETFONT, reinterpret_cast<WPARAM>(tahoma), FALSE);
  kittest::SolidWindow noFontWindow({0, 0, 10, 10}, 0);  // a window class that has no font
  HWND noFont = noFontWindow.hwnd();

  struct ByName {
    const wchar_t* face;
    std::wstring family;
  } byName[] = {{L"Tahoma", L"Tahoma"}, {L"Arial", arial}, {L"NoSuchFace Tessarine", arial}};
  for (const ByName& c : byName) {
    std::unique_ptr<Gdiplus::FontFamily> f;
    EXPECT_TRUE(kit::SetFontFamilyByName(&f, c.face));
    EXPECT_EQ(kit::FamilyName(f.get()), c.family) << c.face;
  }

  struct Lazy {
    const wchar_t* preferred;
    HWND window;
    std::wstring family;
  } lazy[] = {
      {L"Calibri", withFont, Name(L"Calibri")},             // installed (Carlito in the test prefix)
      {L"NoSuchFace Tessarine", withFont, L"Tahoma"},        // the window's font
      {L"NoSuchFace Tessarine", noFont, shellDlg2},          // a window without a font
      {L"NoSuchFace Tessarine", nullptr, L""},               // no window yet: the failed try is kept
  };
  for (const Lazy& c : lazy) {
    std::unique_ptr<Gdiplus::FontFamily> f;
    Gdiplus::FontFamily* got = kit::GetFontFamilyLazy(&f, c.window, c.preferred);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(kit::FamilyName(got), c.family) << c.preferred;
    EXPECT_EQ(kit::GetFontFamilyLazy(&f, c.window, L"Arial"), got) << "chosen once";
  }
  EXPECT_FALSE(Name(L"Calibri").empty());
  DestroyWindow(withFont);
  DeleteObject(tahoma);
}

struct RunShape {
  std::wstring text;
  std::wstring target;
  Gdiplus::ARGB colour;
  bool command;
  int commandId;
  bool link;
};

void ExpectRuns(const TextRunBlock& b, const std::vector<RunShape>& want, const char* what) {
  EXPECT_TRUE(b.inUse) << what;
  ASSERT_EQ(b.runs.size(), want.size()) << what;
  std::wstring whole;
  for (size_t i = 0; i < want.size(); ++i) {
    const TextRun& r = b.runs[i];
    EXPECT_EQ(r.text, want[i].text) << what << " run " << i;
    EXPECT_EQ(r.target, want[i].target) << what << " run " << i;
    EXPECT_EQ(r.colour, want[i].colour) << what << " run " << i;
    EXPECT_EQ(r.command, want[i].command) << what << " run " << i;
    EXPECT_EQ(r.commandId, want[i].commandId) << what << " run " << i;
    EXPECT_EQ(r.link, want[i].link) << what << " run " << i;
    whole += want[i].text;
  }
  EXPECT_EQ(b.text, whole) << what;
}

TEST(LinkText, OneLink) {
  const Gdiplus::ARGB plain = 0xFE515151, link = kit::kLinkColour;
  const std::wstring t = L"https://example.invalid/a";
  struct Case {
    const char* what;
    std::wstring format, linkText;
    bool command;
    std::vector<RunShape> runs;
  } cases[] = {
      {"in the middle", L"Read the %s now.", L"terms", false,
       {{L"Read the ", L"", plain, false, 0, false}, {L"terms", t, link, false, 0, true}, {L" now.", L"", plain, false, 0, false}}},
      {"no %s: the format comes after the link", L"See also", L"terms", false,
       {{L"", L"", plain, false, 0, false}, {L"terms", t, link, false, 0, true}, {L"See also", L"", plain, false, 0, false}}},
      {"empty link text shows the target", L"%s", L"", false,
       {{L"", L"", plain, false, 0, false}, {t, t, link, false, 0, true}, {L"", L"", plain, false, 0, false}}},
      {"command run", L"Press %s.", L"here", true,
       {{L"Press ", L"", plain, false, 0, false}, {L"here", L"", link, true, 77, true}, {L".", L"", plain, false, 0, false}}},
      {"a second %s is dropped", L"a %s b %s c", L"x", false,
       {{L"a ", L"", plain, false, 0, false}, {L"x", t, link, false, 0, true}, {L" b  c", L"", plain, false, 0, false}}},
  };
  for (const Case& c : cases) ExpectRuns(kit::BuildLinkText(c.format, c.linkText, t, plain, c.command, 77), c.runs, c.what);
}

TEST(LinkText, TwoLinks) {
  const Gdiplus::ARGB plain = kit::kDialogTextColour, link = kit::kLinkColour;
  const std::wstring t1 = L"https://one.invalid/", t2 = L"https://two.invalid/";
  struct Case {
    const char* what;
    std::wstring format;
    bool command;
    std::vector<RunShape> runs;
  } cases[] = {
      {"two web links", L"Obtain Bonjour either by installing %s or %s.", false,
       {{L"Obtain Bonjour either by installing ", L"", plain, false, 0, false},
        {L"iTunes", t1, link, false, 0, true},
        {L" or ", L"", plain, false, 0, false},
        {L"Print Services", t2, link, false, 0, true},
        {L".", L"", plain, false, 0, false}}},
      {"two commands", L"%s|%s", true,
       {{L"", L"", plain, false, 0, false},
        {L"iTunes", L"", link, true, 11, true},
        {L"|", L"", plain, false, 0, false},
        {L"Print Services", L"", link, true, 12, true},
        {L"", L"", plain, false, 0, false}}},
      {"one %s only", L"get %s!", false,
       {{L"get ", L"", plain, false, 0, false},
        {L"iTunes", t1, link, false, 0, true},
        {L"", L"", plain, false, 0, false},
        {L"Print Services", t2, link, false, 0, true},
        {L"!", L"", plain, false, 0, false}}},
  };
  for (const Case& c : cases)
    ExpectRuns(kit::BuildLinkText2(c.format, L"iTunes", t1, L"Print Services", t2, c.command, 11, 12), c.runs, c.what);
}

TEST(Slider, ThumbLengthAndFocus) {
  struct Case {
    RECT thumb;
    int length;
  } cases[] = {{{0, 0, 16, 8}, 110}, {{0, 0, 16, 0}, 0}, {{3, 5, 19, 13}, 110}, {{0, 0, 8, 16}, 0}};
  for (const Case& c : cases) EXPECT_EQ(CCustomSliderCtrl::ThumbLengthFor(c.thumb, 55), c.length);

  kittest::Host host;
  ASSERT_TRUE(host.Open());
  HWND edit = host.Child(L"EDIT", L"", WS_BORDER | WS_TABSTOP, {200, 10, 300, 30}, 902);
  CCustomSliderCtrl slider;
  ASSERT_TRUE(slider.SubclassWindow(
      host.Child(TRACKBAR_CLASSW, L"", TBS_VERT | TBS_FIXEDLENGTH | TBS_NOTICKS | TBS_BOTH, {10, 10, 26, 200}, 901)));
  slider.SetBackground(100, 100);
  RECT thumb{};
  SendMessageW(slider.m_hWnd, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
  slider.InitThumb();
  ASSERT_TRUE(slider.hasThumbImage());
  const int want = CCustomSliderCtrl::ThumbLengthFor(thumb, 55);
  ASSERT_GT(want, 0) << "thumb " << thumb.right - thumb.left << " x " << thumb.bottom - thumb.top;
  EXPECT_EQ(SendMessageW(slider.m_hWnd, TBM_GETTHUMBLENGTH, 0, 0), want);

  // Its face: the slice of the wizard picture from (100, 100) and the thumb
  // picture (4 pixels wide, centred) over the thumb.
  InvalidateRect(slider.m_hWnd, nullptr, TRUE);
  SendMessageW(slider.m_hWnd, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
  const POINT onThumb = host.ToScreen(10 + 8, 10 + (thumb.top + thumb.bottom) / 2);
  EXPECT_TRUE(kittest::WaitForPixel(onThumb.x, onThumb.y, Rgb(0x6E, 0x78, 0x87), 2, 3000))
      << std::hex << kittest::ScreenPixel(onThumb.x, onThumb.y);
  const int freeY = thumb.top > 40 ? 20 : 170;
  const POINT face = host.ToScreen(10 + 1, 10 + freeY);
  EXPECT_TRUE(kittest::Near(kittest::ScreenPixel(face.x, face.y), Rgb(0xF2, 0xF4, 0xF7), 2))
      << std::hex << kittest::ScreenPixel(face.x, face.y);

  SetFocus(edit);
  SetFocus(slider.m_hWnd);
  kittest::Pump(50);
  EXPECT_EQ(GetFocus(), edit) << "the slider gives the focus back";
}

TEST(Slider, ColourSliderPaintsTheOwnersColour) {
  kittest::Host host;
  ASSERT_TRUE(host.Open());
  CColorSlider slider;
  slider.backColour = Rgb(0xD9, 0xE5, 0xEE);
  slider.backBrush.reset(CreateSolidBrush(slider.backColour));
  ASSERT_TRUE(slider.SubclassWindow(host.Child(TRACKBAR_CLASSW, L"", TBS_BOTH | TBS_NOTICKS, {10, 10, 210, 40}, 903)));
  InvalidateRect(slider.m_hWnd, nullptr, TRUE);
  const POINT corner = host.ToScreen(11, 11);
  EXPECT_TRUE(kittest::WaitForPixel(corner.x, corner.y, slider.backColour, 2, 3000))
      << std::hex << kittest::ScreenPixel(corner.x, corner.y);
}

TEST(CustomEdit, LineCountsAndScrolledPastTheEnd) {
  kittest::Host host;
  ASSERT_TRUE(host.Open());
  CCustomEdit edit;
  ASSERT_TRUE(edit.SubclassWindow(
      host.Child(L"EDIT", L"", ES_MULTILINE | WS_DISABLED, {10, 10, 210, 110}, 904)));  // 200 x 100
  edit.fontSize = 20;
  edit.SetTextColour(0xFF000000);
  edit.SetBackgroundOffset(50, 100);

  edit.SetText(L"Short.");
  EXPECT_EQ(edit.lineCount, 1);
  EXPECT_EQ(edit.visibleLineCount, edit.lineCount) << "nothing to scroll";

  std::wstring longText;
  for (int i = 0; i < 40; ++i) longText += L"agreement ";
  edit.SetText(longText);
  EXPECT_GE(edit.visibleLineCount, 3);
  EXPECT_LE(edit.visibleLineCount, 5) << "lines of about 24 pixels in 100";
  EXPECT_GT(edit.lineCount, 2 * edit.visibleLineCount);

  // Past the last line only the background shows: the wizard picture's
  // slice, whose face colour is (0xF2, 0xF4, 0xF7) away from its grid.
  edit.firstVisibleLine = edit.lineCount + 2;
  InvalidateRect(edit.m_hWnd, nullptr, FALSE);
  kittest::Pump(200);
  UpdateWindow(edit.m_hWnd);
  int ink = 0;
  for (int y = 2; y < 98; y += 3)
    for (int x = 2; x < 198; x += 3) {
      POINT s = host.ToScreen(10 + x, 10 + y);
      COLORREF c = kittest::ScreenPixel(s.x, s.y);
      if (!kittest::Near(c, Rgb(0xF2, 0xF4, 0xF7), 2) && !kittest::Near(c, Rgb(0xD8, 0xDE, 0xE8), 2)) ++ink;
    }
  EXPECT_EQ(ink, 0);
}

TEST(PictureStatic, NaturalSizeWhenItFitsStretchedWhenNot) {
  kittest::Host host;
  ASSERT_TRUE(host.Open());
  const COLORREF orange = Rgb(0xE8, 0x8C, 0x1E);  // PNG 210, 54 x 45
  struct Case {
    RECT rect;
    POINT inside, outside;  // client points: picture / not picture
  } cases[] = {{{10, 10, 110, 90}, {50, 40}, {80, 70}}, {{150, 10, 180, 30}, {28, 18}, {-1, -1}}};
  std::vector<std::unique_ptr<CPictureStatic>> statics;
  UINT id = 910;
  for (const Case& c : cases) {
    auto s = std::make_unique<CPictureStatic>();
    ASSERT_TRUE(s->SubclassWindow(host.Child(L"STATIC", L"", SS_LEFT, c.rect, id++)));
    s->pngId = IDP_ERROR_ICON;
    InvalidateRect(s->m_hWnd, nullptr, FALSE);
    statics.push_back(std::move(s));
  }
  kittest::Pump(200);
  for (const Case& c : cases) {
    POINT in = host.ToScreen(c.rect.left + c.inside.x, c.rect.top + c.inside.y);
    EXPECT_TRUE(kittest::WaitForPixel(in.x, in.y, orange, 2, 3000)) << c.rect.left;
    if (c.outside.x >= 0) {
      POINT out = host.ToScreen(c.rect.left + c.outside.x, c.rect.top + c.outside.y);
      EXPECT_FALSE(kittest::Near(kittest::ScreenPixel(out.x, out.y), orange, 10)) << "natural size, top-left";
    }
  }
}

}  // namespace
