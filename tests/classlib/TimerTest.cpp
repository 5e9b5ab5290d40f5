// Timers reach the WM_TIMER row with their id: a repeating one keeps coming
// until killed, a one-shot one killed on arrival comes once.
#include <gtest/gtest.h>
#include <windows.h>

#include "TestDialog.h"

using testdlg::ModalDlg;

namespace {

class TimerDlg : public ModalDlg {
 public:
  int repeats = 0, oneShots = 0, strays = 0;

 protected:
  LRESULT OnTimer(WPARAM id, LPARAM l) {
    switch (id) {
      case 1:  // repeating, 10 ms
        if (++repeats == 3) {
          KillTimer(1);
          SetTimer(3, 200);  // time for a stray tick of 1 or 2 to show
        }
        break;
      case 2:  // one-shot: killed on arrival
        KillTimer(2);
        ++oneShots;
        break;
      case 3:
        KillTimer(3);
        EndDialog(IDOK);
        break;
      default:
        if (id != testdlg::kSafetyTimer) ++strays;
    }
    return ModalDlg::OnTimer(id, l);
  }
  const cl::MessageMap* GetMessageMap() const override {
    static const cl::MessageMap map{ModalDlg::GetMessageMap(),
                                    {cl::OnMessage(WM_TIMER, &TimerDlg::OnTimer)}};
    return &map;
  }
};

TEST(Timers, RepeatingAndOneShotTimersByTheirIds) {
  TimerDlg dlg;
  dlg.onInit = [](ModalDlg& d) {
    d.SetTimer(1, 10);
    d.SetTimer(2, 0);
  };
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_FALSE(dlg.timedOut);
  EXPECT_EQ(dlg.repeats, 3);
  EXPECT_EQ(dlg.oneShots, 1);
  EXPECT_EQ(dlg.strays, 0);
}

}  // namespace
