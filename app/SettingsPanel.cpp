// The main window's visible face: the preferences panel (template 101 over
// PNG 235). Its sliders and boxes change the main window's MirrorParam and,
// with a session, the session at once; the registry gets the values only
// when the panel is hidden by Save or the preferences command.
//
// A slider handler runs on every paint of its slider (custom draw), so it
// acts only when the user moved the slider: when its position differs from
// the position the stored value shows at. Painting never changes a value
// (a stored quality of 6000 shows at 3, which is 4000, and stays 6000).
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cmath>

#include "app/AppMessages.h"
#include "app/DlgPreference.h"
#include "classlib/Resource.h"
#include "classlib/Str.h"
#include "engine/capture/MonitorList.h"
#include "engine/mirror/Mirror.h"
#include "foundation/log/Logger.h"
#include "foundation/settings/FrameUtility.h"
#include "foundation/sys/SysUtil.h"

namespace {

constexpr int kFpsMin = 5, kFpsMax = 60;
constexpr int kQualityMin = 1, kQualityMax = 4;
constexpr int kVolumeMin = 0, kVolumeMax = 100;

constexpr Gdiplus::ARGB kTitleColour = 0xFEFAFAFA;
constexpr Gdiplus::ARGB kLabelColour = 0xFE3F3F51;
constexpr Gdiplus::ARGB kHintColour = 0xFE93918F;

int Trunc(float v) { return static_cast<int>(v); }

int Clamp(int v, int low, int high) { return std::min(std::max(v, low), high); }

int Position(HWND slider) { return static_cast<int>(SendMessageW(slider, TBM_GETPOS, 0, 0)); }

int DefaultCaptureMethod() { return GetOSVersionCodeEx() == OSVER_WIN8 ? 1 : 0; }

void SetChecked(CCustomCheckBox& box, bool on) {
  box.checked = on;
  box.SetState(on ? CCustomCheckBox::kCheckedNormal : CCustomCheckBox::kUncheckedNormal);
  if (box.m_hWnd) InvalidateRect(box.m_hWnd, nullptr, FALSE);
}

}  // namespace

int CDlgPreference::QualityPosition(int quality) {
  const float step = static_cast<float>(quality - 1000) / 2333.3333f;
  return static_cast<int>(static_cast<double>(step) + 0.8 + 1.0);
}

int CDlgPreference::QualityOfPosition(int position) { return 1000 << (position - 1); }

void CDlgPreference::DoDataExchange() {
  DDX_Control(IDC_TITLE, title);
  DDX_Control(IDC_CLOSE, closeButton);
  DDX_Control(IDC_QUALITY_LABEL, qualityLabel);
  DDX_Control(IDC_QUALITY_SLIDER, qualitySlider);
  DDX_Control(IDC_QUALITY_LOW, qualityLow);
  DDX_Control(IDC_QUALITY_HIGH, qualityHigh);
  DDX_Control(IDC_VOLUME_LABEL, volumeLabel);
  DDX_Control(IDC_VOLUME_SLIDER, volumeSlider);
  DDX_Control(IDC_VOLUME_VALUE, volumeValue);
  DDX_Control(IDC_FPS_LABEL, fpsLabel);
  DDX_Control(IDC_FPS_SLIDER, fpsSlider);
  DDX_Control(IDC_FPS_VALUE, fpsValue);
  DDX_Control(IDC_CURSOR_CHECK, cursorBox);
  DDX_Control(IDC_AUTOSCALING_CHECK, autoScalingBox);
  DDX_Control(IDC_HWACCEL_CHECK, hwAccelerationBox);
  DDX_Control(IDC_CURSOR_LABEL, cursorLabel);
  DDX_Control(IDC_AUTOSCALING_LABEL, autoScalingLabel);
  DDX_Control(IDC_HWACCEL_LABEL, hwAccelerationLabel);
  DDX_Control(IDC_SELECT_AREA, areaButton);
  DDX_Control(IDC_PROXY, proxyButton);
  DDX_Control(IDC_RESET, resetButton);
  DDX_Control(IDC_SAVE, saveButton);
  DDX_Control(IDC_STATUS_LINE, statusLine);
  DDX_Control(IDC_STATS_LINE, statsLine);
}

BOOL CDlgPreference::ShellNotify(DWORD message, NOTIFYICONDATAW* data) { return Shell_NotifyIconW(message, data); }

void CDlgPreference::SessionUpdateVideoSettings() {
  if (session_) session_->UpdateVideoSettings(params_);
}

void CDlgPreference::SessionSetVolume() {
  if (session_) session_->SetVolume(params_.volume);
}

// ------------------------------------------------------------------ layout

void CDlgPreference::PlaceLabel(CCustomStatic& label, int x, int y, int height) {
  const int width = Trunc(label.MeasureText(label.fontSize, label.GetDisplayText()).Width) + 1;
  SetWindowPos(label.m_hWnd, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void CDlgPreference::LayoutControls() {
  float s = 1.0f;
  {
    CMonitorList monitors;
    if (monitors.Enumerate()) s = monitors.GetWindowDpiScale(m_hWnd);
  }
  auto S = [s](float v) { return Trunc(v * s); };
  const float screen = kit::ScreenPointFactor();

  SetBackgroundImage(IDP_PREFERENCES_BACKGROUND, false, s);
  RECT client{};
  GetClientRect(m_hWnd, &client);
  const int R = client.right, B = client.bottom;

  // Every control paints its background from the panel's picture at its
  // own place.
  auto backFor = [this](kit::BackgroundSlice& slice, HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    slice.Free();
    slice.pngId = -1;
    slice.parentDC = backgroundDC();
    slice.relative = false;
    slice.offsetX = r.left;
    slice.offsetY = r.top;
  };
  auto label = [&](CCustomStatic& l, const std::wstring& text, bool bold, float size, Gdiplus::ARGB colour) {
    SetupStatic(&l, bold, false, s);
    l.textColour = colour;
    l.SetFontSize(size * s, 14.0f);
    l.SetText(text);
  };
  auto finishLabel = [&](CCustomStatic& l) {
    backFor(l.background, l.m_hWnd);
    l.useBackground = true;
    InvalidateRect(l.m_hWnd, nullptr, TRUE);
  };

  // Title and close cross.
  SetupStatic(&title, true, true, s);
  title.textColour = kTitleColour;
  title.SetFontSize(12 * s, 14.0f);
  title.SetText(cl::LoadResString(IDS_PREFERENCES));
  {
    const int width = Trunc(title.MeasureText(title.fontSize, title.GetDisplayText()).Width) + 1;
    SetWindowPos(title.m_hWnd, nullptr, (R - width) / 2, 5, width, S(30), SWP_NOZORDER | SWP_NOACTIVATE);
    finishLabel(title);
  }
  {
    const int side = S(24);
    SetWindowPos(closeButton.m_hWnd, nullptr, R - side - 3, client.top + 3, side, side, SWP_NOZORDER | SWP_NOACTIVATE);
    const int pngs[CPictureButton::kStateCount] = {136, 137, 138, 137, -1};
    for (int i = 0; i < CPictureButton::kStateCount; ++i) closeButton.states[i].pngId = pngs[i];
    closeButton.caption.clear();
    backFor(closeButton.background, closeButton.m_hWnd);
    GetClientRect(closeButton.m_hWnd, &closeButton.textRect);
    closeButton.MarkDirty();
  }

  // The rows: label, slider, and for quality the scale's two ends.
  const int row = 20;
  int y = 40;
  auto slider = [&](CColorSlider& sl, int x, int width, int low, int high, int pos) {
    SetWindowPos(sl.m_hWnd, nullptr, S(x), S(y), S(width), S(row), SWP_NOZORDER | SWP_NOACTIVATE);
    sl.SendMessage(TBM_SETRANGE, TRUE, MAKELPARAM(low, high));
    sl.SendMessage(TBM_SETPOS, TRUE, pos);
  };
  auto valueLabel = [&](CCustomStatic& l, CColorSlider& sl, int value) {
    label(l, cl::FormatW(L"%d", value), false, 9.6f, kHintColour);
    RECT r{};
    GetWindowRect(sl.m_hWnd, &r);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    SetWindowPos(l.m_hWnd, nullptr, r.right + S(5), r.top, S(40), S(row), SWP_NOZORDER | SWP_NOACTIVATE);
    finishLabel(l);
  };

  label(qualityLabel, cl::LoadResString(IDS_QUALITY), true, 9.6f, kLabelColour);
  PlaceLabel(qualityLabel, S(20), S(y), S(row));
  finishLabel(qualityLabel);
  y += row;
  slider(qualitySlider, 30, 250, kQualityMin, kQualityMax, QualityPosition(params_.quality));
  y += row;
  label(qualityLow, cl::LoadResString(IDS_QUALITY_LOW), false, 8, kHintColour);
  PlaceLabel(qualityLow, S(30), S(y), S(row));
  finishLabel(qualityLow);
  label(qualityHigh, cl::LoadResString(IDS_QUALITY_HIGH), false, 8, kHintColour);
  {
    const int width = Trunc(qualityHigh.MeasureText(qualityHigh.fontSize, qualityHigh.GetDisplayText()).Width) + 1;
    SetWindowPos(qualityHigh.m_hWnd, nullptr, R - S(20) - width, S(y), width, S(row), SWP_NOZORDER | SWP_NOACTIVATE);
    finishLabel(qualityHigh);
  }
  y += row + 10;

  label(volumeLabel, cl::LoadResString(IDS_VOLUME), true, 9.6f, kLabelColour);
  PlaceLabel(volumeLabel, S(20), S(y), S(row));
  finishLabel(volumeLabel);
  y += row;
  slider(volumeSlider, 30, 220, kVolumeMin, kVolumeMax, params_.volume);
  valueLabel(volumeValue, volumeSlider, params_.volume);
  y += row + 10;

  label(fpsLabel, cl::LoadResString(IDS_FPS), true, 9.6f, kLabelColour);
  PlaceLabel(fpsLabel, S(20), S(y), S(row));
  finishLabel(fpsLabel);
  y += row;
  slider(fpsSlider, 30, 220, kFpsMin, kFpsMax, params_.fps);
  valueLabel(fpsValue, fpsSlider, params_.fps);
  y += row + 20;

  // The three check boxes, each with its label at its right edge.
  struct Box {
    CCustomCheckBox& box;
    CCustomStatic& label;
    UINT text;
    bool checked;
  } boxes[] = {{cursorBox, cursorLabel, IDS_CURSOR, params_.showCursor != 0},
               {autoScalingBox, autoScalingLabel, IDS_AUTOSCALING, params_.scaleMode != 0},
               {hwAccelerationBox, hwAccelerationLabel, IDS_HW_ACCELERATION, params_.useDxgi != 0}};
  const int boxRow = 14;
  for (Box& b : boxes) {
    SetWindowPos(b.box.m_hWnd, nullptr, S(20), S(y), S(14), S(boxRow), SWP_NOZORDER | SWP_NOACTIVATE);
    b.box.boxPng[CCustomCheckBox::kCheckedNormal] = b.box.boxPng[CCustomCheckBox::kCheckedHot] = 156;
    b.box.boxPng[CCustomCheckBox::kUncheckedNormal] = b.box.boxPng[CCustomCheckBox::kUncheckedHot] = 157;
    b.box.boxPng[CCustomCheckBox::kCheckedDisabled] = b.box.boxPng[CCustomCheckBox::kUncheckedDisabled] = 158;
    b.box.SetFontFamily(fontFace.c_str());
    b.box.textColour = kit::kDialogTextColour;
    b.box.fontSize = screen * 9.6f;
    b.box.boxSize = 13;
    b.box.text.clear();
    backFor(b.box.background, b.box.m_hWnd);
    b.box.backgroundOn = true;
    b.box.rebuild = true;
    SetChecked(b.box, b.checked);
    label(b.label, cl::LoadResString(b.text), false, 9, kLabelColour);
    PlaceLabel(b.label, S(20) + S(14), S(y), S(boxRow));
    finishLabel(b.label);
    y += boxRow + 10;
  }
  const int hw = GetOSVersionCodeEx() == OSVER_WIN8 ? SW_SHOW : SW_HIDE;
  hwAccelerationBox.ShowWindow(hw);
  hwAccelerationLabel.ShowWindow(hw);
  y += 20 - 10;

  // The button row: region (picture only), Proxy, Reset; Save at the bottom.
  const int buttonRow = 25;
  {
    SetWindowPos(areaButton.m_hWnd, nullptr, S(20), S(y), S(50), S(buttonRow), SWP_NOZORDER | SWP_NOACTIVATE);
    const int pngs[CPictureButton::kStateCount] = {261, 259, 260, 259, -1};
    for (int i = 0; i < CPictureButton::kStateCount; ++i) {
      areaButton.states[i].pngId = pngs[i];
      areaButton.states[i].textColour = i < CPictureButton::kFifth ? 0xFFF5F5F5 : 0xFF000000;
    }
    areaButton.fontSize = screen * 10 * s;
    areaButton.SetFontFamily(fontFace.c_str());
    backFor(areaButton.background, areaButton.m_hWnd);
    GetClientRect(areaButton.m_hWnd, &areaButton.textRect);
    areaButton.MarkDirty();
  }
  auto textButton = [&](CPictureButton& b, UINT text, const int pngs[CPictureButton::kStateCount]) {
    b.caption = cl::LoadResString(text);
    SetWindowTextW(b.m_hWnd, b.caption.c_str());
    b.SetFontFamily(fontFace.c_str());
    b.fontSize = screen * 12 * s;
    for (int i = 0; i < CPictureButton::kStateCount; ++i) {
      b.states[i].pngId = pngs[i];
      b.states[i].textColour = 0xFF000000;
    }
    return b.MeasureCaptionWidth();
  };
  const int plainPngs[CPictureButton::kStateCount] = {173, 172, 174, 172, -1};
  int x = S(20) + S(50);
  for (CPictureButton* b : {&proxyButton, &resetButton}) {
    const int width = textButton(*b, b == &proxyButton ? IDS_PROXY : IDS_RESET, plainPngs) + 8;
    x += S(8);
    SetWindowPos(b->m_hWnd, nullptr, x, S(y), width, S(buttonRow), SWP_NOZORDER | SWP_NOACTIVATE);
    backFor(b->background, b->m_hWnd);
    GetClientRect(b->m_hWnd, &b->textRect);
    b->MarkDirty();
    x += width;
  }
  {
    const int savePngs[CPictureButton::kStateCount] = {275, 274, 276, 274, -1};
    const int width = textButton(saveButton, IDS_SAVE, savePngs) + 16;
    SetWindowPos(saveButton.m_hWnd, nullptr, R - S(10) - width, B - S(40), width, S(30), SWP_NOZORDER | SWP_NOACTIVATE);
    backFor(saveButton.background, saveButton.m_hWnd);
    GetClientRect(saveButton.m_hWnd, &saveButton.textRect);
    saveButton.MarkDirty();
  }

  SetTimer(kTimerStatusLines, 1000);
  statusLine.ShowWindow(SW_HIDE);
  statsLine.ShowWindow(SW_HIDE);
}

// ----------------------------------------------------------------- handlers

void CDlgPreference::OnFpsChanged(NMHDR*, LRESULT* result) {
  *result = 0;
  const int position = Position(fpsSlider.m_hWnd);
  if (position == Clamp(params_.fps, kFpsMin, kFpsMax)) return;
  params_.fps = static_cast<uint16_t>(position);
  if (session_) SessionUpdateVideoSettings();
  fpsValue.SetText(cl::FormatW(L"%d", position));
}

void CDlgPreference::OnQualityChanged(NMHDR*, LRESULT* result) {
  *result = 0;
  const int position = Position(qualitySlider.m_hWnd);
  if (position == Clamp(QualityPosition(params_.quality), kQualityMin, kQualityMax)) return;
  const int quality = QualityOfPosition(Clamp(position, kQualityMin, kQualityMax));
  if (quality == params_.quality) return;
  params_.quality = static_cast<uint16_t>(quality);
  if (session_) SessionUpdateVideoSettings();
}

void CDlgPreference::OnVolumeChanged(NMHDR*, LRESULT* result) {
  *result = 0;
  const int position = Position(volumeSlider.m_hWnd);
  if (position == Clamp(params_.volume, kVolumeMin, kVolumeMax)) return;
  params_.volume = static_cast<int16_t>(position);
  // A drag moves the slider many times: the session gets the volume once,
  // 100 ms after the last move.
  if (session_) SetTimer(kTimerVolume, 100);
  volumeValue.SetText(cl::FormatW(L"%d", position));
}

void CDlgPreference::OnAutoScalingClicked() {
  params_.scaleMode = autoScalingBox.checked ? 1 : 0;
  if (session_) SessionUpdateVideoSettings();
}

void CDlgPreference::OnCursorClicked() {
  params_.showCursor = cursorBox.checked ? 1 : 0;
  if (session_) SessionUpdateVideoSettings();
}

void CDlgPreference::OnHwAccelerationClicked() { params_.useDxgi = hwAccelerationBox.checked ? 1 : 0; }

void CDlgPreference::ShowTuningValues() {
  fpsSlider.SendMessage(TBM_SETPOS, TRUE, params_.fps);
  qualitySlider.SendMessage(TBM_SETPOS, TRUE, QualityPosition(params_.quality));
  volumeSlider.SendMessage(TBM_SETPOS, TRUE, params_.volume);
  SetChecked(cursorBox, params_.showCursor != 0);
  SetChecked(autoScalingBox, params_.scaleMode != 0);
  SetChecked(hwAccelerationBox, params_.useDxgi != 0);
  fpsValue.SetText(cl::FormatW(L"%d", params_.fps));
  volumeValue.SetText(cl::FormatW(L"%d", params_.volume));
}

void CDlgPreference::OnResetSettings() {
  const int method = DefaultCaptureMethod();
  CFrameUtility::SetTxFps(30);
  CFrameUtility::SetTxQuality(6000);
  CFrameUtility::SetTxVolume(100);
  CFrameUtility::SetTxScale(1);
  CFrameUtility::SetTxCursor(1);
  CFrameUtility::SetTxDDI(method);
  params_.fps = static_cast<uint16_t>(CFrameUtility::GetTxFps());
  params_.quality = static_cast<uint16_t>(CFrameUtility::GetTxQuality());
  params_.volume = static_cast<int16_t>(CFrameUtility::GetTxVolume());
  params_.scaleMode = CFrameUtility::GetTxScale();
  params_.showCursor = CFrameUtility::GetTxCursor();
  params_.useDxgi = CFrameUtility::GetTxDDI(method);
  ShowTuningValues();
  if (session_) SessionUpdateVideoSettings();
  PostMessage(WM_RESTART_DISCOVERY, 0, 0);
}
