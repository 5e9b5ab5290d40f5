// The settings panel's two dialog buttons: the capture region (the region
// picker over the monitor that holds the panel) and the proxy settings.
#include "app/DlgPreference.h"
#include "app/dialogs/DlgProxy.h"
#include "app/dialogs/DragDrop.h"
#include "engine/capture/MonitorList.h"
#include "engine/mirror/Mirror.h"

void CDlgPreference::OnSelectArea() {
  if (!session_ || !session_->IsRunning()) return;
  RECT panel{};
  GetWindowRect(m_hWnd, &panel);
  const POINT corner{panel.left, panel.top};
  if (!regionPicker_) {
    regionPicker_ = new CDragDrop(this);
    if (!regionPicker_->Create(nullptr)) {
      delete regionPicker_;
      regionPicker_ = nullptr;
      return;
    }
    regionPicker_->ShowWindow(SW_SHOWMAXIMIZED);
  }
  RECT picker{};
  GetWindowRect(regionPicker_->m_hWnd, &picker);
  if (!PtInRect(&picker, corner)) {
    CMonitorList monitors;
    monitors.Enumerate();
    for (int i = 0; i < monitors.Count(); ++i) {
      MonitorRect m{};
      if (!monitors.GetRect(i, &m)) continue;
      const RECT r{m.left, m.top, m.right, m.bottom};
      if (PtInRect(&r, corner)) {
        MoveWindow(regionPicker_->m_hWnd, r.left, r.top, r.right - r.left, r.bottom - r.top, FALSE);
        break;
      }
    }
  }
  regionPicker_->ShowPicker();
}

void CDlgPreference::OnProxySettings() {
  CDlgProxy dialog(this);
  dialog.DoModal();
}
