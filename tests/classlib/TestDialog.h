// A modal test dialog (template IDD_TEST_MODAL) that records what its
// PreTranslateMessage and its edit's see, runs a test step from
// OnInitDialog, ends itself on WM_APP_FINISH, and gives up after 30 s.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "TestDialogs.h"
#include "classlib/Dialog.h"
#include "support/WaitFactor.h"

namespace testdlg {

constexpr UINT WM_APP_FINISH = WM_APP + 9;
constexpr UINT_PTR kSafetyTimer = 77;

inline std::vector<std::string>& Seen() {
  static std::vector<std::string> seen;
  return seen;
}

// Key presses and application messages, by name: "keydown:41", "app5".
inline std::string Describe(const MSG* m) {
  if (m->message == WM_KEYDOWN) return "keydown:" + std::to_string(m->wParam);
  if (m->message >= WM_APP && m->message < WM_APP + 100) return "app" + std::to_string(m->message - WM_APP);
  return "";
}

inline void Record(const char* who, const MSG* m) {
  std::string d = Describe(m);
  if (!d.empty()) Seen().push_back(std::string(who) + ":" + d);
}

class RecordingEdit : public cl::CWnd {
 public:
  BOOL PreTranslateMessage(MSG* m) override {
    Record("edit", m);
    return FALSE;
  }
};

class ModalDlg : public cl::CDialog {
 public:
  explicit ModalDlg(const char* name = "modal", cl::CWnd* parent = nullptr,
                    UINT templateId = IDD_TEST_MODAL)
      : cl::CDialog(templateId, parent), name_(name) {}

  std::function<void(ModalDlg&)> onInit;
  bool swallowEscape = false;
  bool timedOut = false;
  RecordingEdit edit;

  BOOL OnInitDialog() override {
    cl::CDialog::OnInitDialog();
    SetTimer(kSafetyTimer, testwait::Ms(30000));
    if (onInit) onInit(*this);
    return TRUE;
  }
  void DoDataExchange() override { DDX_Control(IDC_TEST_EDIT, edit); }
  BOOL PreTranslateMessage(MSG* m) override {
    Record(name_, m);
    if (swallowEscape && m->message == WM_KEYDOWN && m->wParam == VK_ESCAPE) return TRUE;
    return cl::CDialog::PreTranslateMessage(m);
  }

 protected:
  LRESULT OnTimer(WPARAM id, LPARAM) {
    if (id == kSafetyTimer) {
      timedOut = true;
      EndDialog(-2);
    }
    return 0;
  }
  LRESULT OnFinish(WPARAM result, LPARAM) {
    EndDialog(result ? static_cast<int>(result) : IDOK);
    return 0;
  }
  const cl::MessageMap* GetMessageMap() const override {
    static const cl::MessageMap map{cl::CDialog::GetMessageMap(),
                                    {
                                        cl::OnMessage(WM_TIMER, &ModalDlg::OnTimer),
                                        cl::OnMessage(WM_APP_FINISH, &ModalDlg::OnFinish),
                                    }};
    return &map;
  }

 private:
  const char* name_;
};

}  // namespace testdlg
