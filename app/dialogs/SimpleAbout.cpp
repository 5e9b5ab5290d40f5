#include "app/dialogs/SimpleAbout.h"

#include <memory>

#include "app/controls/DialogBases.h"
#include "app/resources/resource.h"
#include "classlib/Gdi.h"
#include "classlib/Resource.h"
#include "classlib/Str.h"
#include "engine/capture/MonitorList.h"
#include "foundation/settings/FrameUtility.h"
#include "foundation/sys/SysUtil.h"

namespace {

constexpr UINT kVersionLabel = 1147;
constexpr UINT kLinkLabel = 1148;
constexpr UINT kLogo = 1149;

int Trunc(float v) { return static_cast<int>(v); }

}  // namespace

CSimpleAbout::CSimpleAbout(cl::CWnd* parent) : cl::CDialog(kTemplateId, parent) {}

CSimpleAbout::~CSimpleAbout() = default;

void CSimpleAbout::DoDataExchange() {
  DDX_Control(kVersionLabel, versionLabel);
  DDX_Control(kLinkLabel, linkLabel);
  DDX_Control(kLogo, logo);
}

std::wstring CSimpleAbout::AcknowledgementsPath() {
  return CFrameUtility::GetProgramFolder() + L"Acknowledgements.htm";
}

void CSimpleAbout::StyleAboutLabel(CCustomStatic* label, bool bold) {
  if (!label) return;
  label->fontStyle = bold ? Gdiplus::FontStyleBold : Gdiplus::FontStyleRegular;
  if (label->m_hWnd) InvalidateRect(label->m_hWnd, nullptr, FALSE);
  label->SetFontFamily(L"Arial");
  label->textColour = kit::kDialogTextColour;
  if (label->m_hWnd) InvalidateRect(label->m_hWnd, nullptr, FALSE);
  label->SetFontSize(9.0f, 14.0f);
  label->SetAlignment(Gdiplus::StringAlignmentNear);
}

void CSimpleAbout::BuildLinkRuns(CCustomStatic* label, const std::wstring& format, const std::wstring& linkText,
                                 const std::wstring& target, Gdiplus::ARGB colour) {
  if (label) label->SetRuns(kit::BuildLinkText(format, linkText, target, colour, false, 0));
}

void CSimpleAbout::UseFace(kit::BackgroundSlice& slice, HWND control) {
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
  slice.Free();
  slice.pngId = -1;
  slice.parentDC = face_.dc();
  slice.relative = false;
  slice.offsetX = r.left;
  slice.offsetY = r.top;
}

BOOL CSimpleAbout::OnInitDialog() {
  cl::CDialog::OnInitDialog();
  {
    CMonitorList monitors;
    if (monitors.Enumerate()) scale = monitors.GetWindowDpiScale(m_hWnd);
  }
  const float s = scale;

  RECT wr{};
  GetWindowRect(m_hWnd, &wr);
  SetWindowPos(m_hWnd, nullptr, 0, 0, Trunc(300 * s), Trunc(150 * s), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(m_hWnd, nullptr, TRUE);

  // The labels and the logo draw over the dialog's own face colour, not
  // over whatever the screen showed before the box was painted.
  RECT client{};
  GetClientRect(m_hWnd, &client);
  {
    cl::CClientDC wdc(m_hWnd);
    if (face_.Create(wdc, client.right, client.bottom)) {
      FillRect(face_.dc(), &client, GetSysColorBrush(COLOR_3DFACE));
    }
  }

  SetWindowPos(logo.m_hWnd, nullptr, Trunc(10 * s), Trunc(10 * s), Trunc(64 * s), Trunc(64 * s),
               SWP_NOZORDER | SWP_NOACTIVATE);
  logo.pngId = kLogoPng;
  logo.iconName = nullptr;
  logo.imagePath.clear();
  logo.fitIfSmaller = false;
  UseFace(logo.background, logo.m_hWnd);
  logo.drawn = false;

  const std::wstring version =
      cl::FormatW(L"%s : %s", cl::LoadResString(IDS_VERSION).c_str(), GetVersionString().c_str());
  StyleAboutLabel(&versionLabel, true);
  versionLabel.textColour = 0xFF1C1C1C;
  versionLabel.SetFontSize(9.6f * s, 14.0f);
  versionLabel.SetText(version);
  {
    RECT lr{};
    GetWindowRect(logo.m_hWnd, &lr);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&lr), 2);
    SetWindowPos(versionLabel.m_hWnd, nullptr, lr.right + Trunc(10 * s), lr.top + Trunc(10 * s), Trunc(300 * s),
                 Trunc(30 * s), SWP_NOZORDER | SWP_NOACTIVATE);
  }
  UseFace(versionLabel.background, versionLabel.m_hWnd);
  versionLabel.useBackground = true;

  StyleAboutLabel(&linkLabel, false);
  linkLabel.SetFontSize(9.0f * s, 14.0f);
  const std::wstring target = AcknowledgementsPath();
  const std::wstring linkText = cl::LoadResString(IDS_ACKNOWLEDGEMENTS);
  {
    const Gdiplus::SizeF measured = linkLabel.MeasureText(linkLabel.fontSize, linkText + L".");
    RECT box{};
    GetWindowRect(m_hWnd, &box);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&box), 2);
    const int width = Trunc(measured.Width * s + 10 * s);
    const int right = box.right - Trunc(20 * s), bottom = box.bottom - Trunc(15 * s);
    const int height = Trunc(35 * s);
    SetWindowPos(linkLabel.m_hWnd, nullptr, right - width, bottom - height, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  UseFace(linkLabel.background, linkLabel.m_hWnd);
  linkLabel.useBackground = true;
  BuildLinkRuns(&linkLabel, L"%s", linkText, target, kit::kDialogTextColour);
  return TRUE;
}
