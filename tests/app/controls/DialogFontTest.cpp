// Template fonts: a dialog laid out again from its template in a font of our
// own (template 314 in pixels, a template without a font, a face nobody
// has, the classic form), the walk that ends at an item without a window,
// Restore, and the template reader's bounds.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "KitTest.h"
#include "app/controls/DialogFont.h"
#include "app/controls/DialogTemplate.h"
#include "app/resources/resource.h"
#include "classlib/Resource.h"

namespace {

LOGFONTW FontOf(HWND w) {
  LOGFONTW lf{};
  HFONT f = reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0));
  if (f) GetObjectW(f, sizeof(lf), &lf);
  return lf;
}

RECT ChildRect(HWND dialog, int id) {
  RECT r{};
  HWND c = GetDlgItem(dialog, id);
  GetWindowRect(c, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string Str(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
         std::to_string(r.bottom);
}

// A modeless dialog of any template, made by the dialog manager as usual.
class Plain : public cl::CDialog {
 public:
  explicit Plain(UINT id) : cl::CDialog(id) {}
  ~Plain() override { DestroyWindow(); }
};

TEST(DialogFont, InputBoxTemplateInPixelsFromTheMeasuredBaseUnits) {
  Plain dlg(IDD_INPUT_BOX);
  ASSERT_TRUE(dlg.Create(nullptr));
  CDialogFont font;
  ASSERT_TRUE(font.Apply(cl::AfxGetResourceHandle(), dlg.m_hWnd, IDD_INPUT_BOX, 96));
  EXPECT_EQ(font.unitX(), 6);
  EXPECT_EQ(font.unitY(), 13);
  RECT client;
  GetClientRect(dlg.m_hWnd, &client);
  EXPECT_EQ(client.right, 465);
  EXPECT_EQ(client.bottom, 158);
  // x, y, cx, cy in units of 6/4 and 13/8 pixels, rounded half up.
  struct Item {
    int id;
    RECT px;
  } items[] = {{IDOK, {140, 122, 215, 145}},
               {IDCANCEL, {252, 122, 327, 145}},
               {IDC_INPUT_PROMPT, {21, 11, 444, 52}},
               {IDC_INPUT_EDIT, {29, 75, 434, 98}}};
  for (const Item& i : items) {
    RECT got = ChildRect(dlg.m_hWnd, i.id);
    EXPECT_TRUE(SameRect(got, i.px)) << "control " << i.id << " at " << Str(got);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(GetDlgItem(dlg.m_hWnd, i.id), WM_GETFONT, 0, 0)), font.font());
  }
  LOGFONTW lf = FontOf(GetDlgItem(dlg.m_hWnd, IDOK));
  EXPECT_STREQ(lf.lfFaceName, L"MS Shell Dlg");
  EXPECT_EQ(lf.lfHeight, -11) << "8 points at 96 DPI";
}

TEST(DialogFont, FaceWeightAndSizeChosenFromTheTemplate) {
  struct Case {
    UINT templateId;
    int dpi;
    const wchar_t* face;
    LONG height;
    LONG weight;
    BYTE italic;
  } cases[] = {
      {IDD_T_NOFONT, 96, L"Tahoma", -11, FW_NORMAL, 0},       // no DS_SETFONT: Tahoma 8
      {IDD_T_MISSINGFACE, 96, L"Arial", -12, FW_BOLD, 1},     // a face nobody has: Arial
      // The classic form has no weight: 0, which draws as regular.
      {IDD_T_CLASSIC, 96, L"MS Shell Dlg", -11, 0, 0},
      {IDD_T_CLASSIC, 144, L"MS Shell Dlg", -16, 0, 0},
  };
  for (const Case& c : cases) {
    Plain dlg(c.templateId);
    ASSERT_TRUE(dlg.Create(nullptr));
    CDialogFont font;
    ASSERT_TRUE(font.Apply(cl::AfxGetResourceHandle(), dlg.m_hWnd, c.templateId, c.dpi));
    // The controls (Wine's dialog manager answers WM_GETFONT of the dialog
    // itself with its template font whatever it was given).
    for (HWND w : {GetDlgItem(dlg.m_hWnd, IDC_T_BUTTON), GetDlgItem(dlg.m_hWnd, IDC_T_EDIT)}) {
      LOGFONTW lf = FontOf(w);
      EXPECT_STREQ(lf.lfFaceName, c.face) << "template " << c.templateId;
      EXPECT_EQ(lf.lfHeight, c.height) << "template " << c.templateId << " at " << c.dpi;
      EXPECT_EQ(lf.lfWeight, c.weight) << "template " << c.templateId;
      EXPECT_EQ(lf.lfItalic, c.italic) << "template " << c.templateId;
    }
    // The button (10, 10, 50 x 14 units) in the units of the new font.
    const int ux = font.unitX(), uy = font.unitY();
    RECT want{static_cast<LONG>(10.0 * ux / 4 + 0.5), static_cast<LONG>(10.0 * uy / 8 + 0.5), 0, 0};
    want.right = want.left + static_cast<LONG>(50.0 * ux / 4 + 0.5);
    want.bottom = want.top + static_cast<LONG>(14.0 * uy / 8 + 0.5);
    RECT got = ChildRect(dlg.m_hWnd, IDC_T_BUTTON);
    EXPECT_TRUE(SameRect(got, want)) << "template " << c.templateId << ": " << Str(got) << " for " << Str(want);
  }
}

TEST(DialogFont, WalkEndsAtAnItemWithoutAWindowAndRestoreGivesTheFontBack) {
  Plain dlg(IDD_T_CLASSIC);
  ASSERT_TRUE(dlg.Create(nullptr));
  HFONT templateFont = reinterpret_cast<HFONT>(SendMessageW(dlg.m_hWnd, WM_GETFONT, 0, 0));
  const RECT labelBefore = ChildRect(dlg.m_hWnd, IDC_T_STATIC);
  ::DestroyWindow(GetDlgItem(dlg.m_hWnd, IDC_T_EDIT));  // the second of three items

  CDialogFont font;
  ASSERT_TRUE(font.Apply(cl::AfxGetResourceHandle(), dlg.m_hWnd, IDD_T_CLASSIC, 144));
  HWND button = GetDlgItem(dlg.m_hWnd, IDC_T_BUTTON), label = GetDlgItem(dlg.m_hWnd, IDC_T_STATIC);
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(button, WM_GETFONT, 0, 0)), font.font()) << "reached";
  EXPECT_NE(reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)), font.font()) << "after the gap";
  EXPECT_TRUE(SameRect(ChildRect(dlg.m_hWnd, IDC_T_STATIC), labelBefore)) << "keeps its system layout";
  const RECT buttonApplied = ChildRect(dlg.m_hWnd, IDC_T_BUTTON);

  font.Restore();
  EXPECT_FALSE(font.inUse());
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(button, WM_GETFONT, 0, 0)), templateFont);
  EXPECT_TRUE(SameRect(ChildRect(dlg.m_hWnd, IDC_T_BUTTON), buttonApplied)) << "positions stay";
  font.Restore();  // idle: nothing
}

TEST(DialogTemplate, ReadsOnlyWithinTheGivenSize) {
  HINSTANCE inst = cl::AfxGetResourceHandle();
  for (UINT id : {static_cast<UINT>(IDD_INPUT_BOX), static_cast<UINT>(IDD_T_CLASSIC)}) {
    HRSRC res = FindResourceW(inst, MAKEINTRESOURCEW(id), RT_DIALOG);
    ASSERT_NE(res, nullptr);
    const auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(inst, res)));
    const size_t size = SizeofResource(inst, res);
    DialogTemplateInfo whole;
    ASSERT_TRUE(ParseDialogTemplate(bytes, size, &whole));
    EXPECT_EQ(whole.extended, id == IDD_INPUT_BOX);
    EXPECT_TRUE(whole.hasFont);
    EXPECT_EQ(whole.face, L"MS Shell Dlg");
    EXPECT_EQ(whole.pointSize, 8);
    ASSERT_EQ(whole.items.size(), id == IDD_INPUT_BOX ? 4u : 3u);
    // Every shorter copy (in a buffer of exactly that size) reads a prefix of
    // the items, or fails when the header or font does not fit.
    for (size_t n = 0; n < size; ++n) {
      std::vector<unsigned char> cut(bytes, bytes + n);
      DialogTemplateInfo part;
      if (ParseDialogTemplate(cut.data(), cut.size(), &part)) {
        ASSERT_LT(part.items.size(), whole.items.size() + 1) << n;
        for (size_t i = 0; i < part.items.size(); ++i) EXPECT_EQ(part.items[i].id, whole.items[i].id);
      }
    }
  }
}

}  // namespace
