// CDlgProxy: how the program reaches the backend web service. A modal
// layered dialog (template 118 over PNG 197) with the close cross, OK and
// Cancel; its form, CPageNetworkOOBE, lives in a plain popup host window
// (template 119) laid over it, because a layered window shows no ordinary
// child windows.
//
//   CDlgProxy dlg(&mainWindow);
//   dlg.DoModal();          // OK saves through CFrameUtility; Cancel saves nothing
//
// The form also lists the computer's first two IPv4 addresses and adapters
// ("Listen on"), refreshed every 30 s. UI thread only; GDI+ must be started.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "app/controls/CustomStatic.h"
#include "app/controls/DialogBases.h"
#include "app/controls/Layered.h"
#include "app/controls/PictureButton.h"
#include "classlib/Dialog.h"
#include "foundation/sys/SysUtil.h"

// Proxy modes as the settings store them.
enum { kProxyNone = 0, kProxyAuto = 1, kProxyManual = 2 };
// Validation results.
enum { kProxySaved = 0, kProxyInvalidPort = 1, kProxyInvalidServer = 2 };

// White space (as iswspace) taken off both ends.
std::wstring TrimSpace(const std::wstring& s);
// The port a typed text names: its decimal digits up to the first other
// character, after an optional sign; 0 when there is no number, -1 when
// it is too large for an int (so it fails the range check too).
int ParsePortText(const std::wstring& text);

class CPageNetwork : public CDlgChildBase {
 public:
  CPageNetwork(UINT templateId, cl::CWnd* parent);
  ~CPageNetwork() override;

  void DoDataExchange() override;
  void InitDialogHook() override;

  // Reads the stored mode and values into the form.
  void LoadSettings();
  // Checks the radios and enables the edits of a mode (0, 1, 2); any other
  // value is only remembered.
  void ShowMode(int mode);
  // Reads the edits, checks them and writes the settings:
  // kProxySaved, kProxyInvalidPort or kProxyInvalidServer (nothing written).
  int ValidateAndSave();
  // OK and Apply: ValidateAndSave, then the message in place of Apply;
  // true when the dialog may close.
  bool Save();
  // Fills "Listen on" from the local IPv4 list: the addresses and the
  // adapter names of its first two records.
  void FillListenOn();
  void FillListenOn(const std::vector<AdapterRecord>& list);

  // Edit texts <-> members.
  void UpdateData(bool fromControls);

  CCustomStatic header;                       // 1085
  CCustomStatic noneLabel, autoLabel, manualLabel;     // 1086..1088
  CCustomStatic serverLabel, userLabel, passwordLabel; // 1089..1091
  CCustomStatic message;                      // 1092
  CPictureButton apply;                       // 1084
  CPictureButton radioNone, radioAuto, radioManual;    // 1093..1095
  CCustomStatic listenHeader;                 // 1096
  CCustomStatic listenAddresses;              // 1097
  CCustomStatic listenAdapters;               // 1098

  std::wstring server, port, user, password;  // the four edits
  int proxyMode = kProxyNone;
  bool applyHidden = true;

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  void OnNone() { ShowMode(kProxyNone); }
  void OnAuto() { ShowMode(kProxyAuto); }
  void OnManual() { ShowMode(kProxyManual); }
  void OnApply() { Save(); }
  LRESULT OnTimer(WPARAM, LPARAM);
  void SetupRadio(CPictureButton& b);
};

// The form as the proxy dialog shows it (template 120, "Listen on" shown).
class CPageNetworkOOBE : public CPageNetwork {
 public:
  explicit CPageNetworkOOBE(cl::CWnd* parent);
};

class CDlgProxy : public CTRSDialog {
 public:
  explicit CDlgProxy(cl::CWnd* owner);
  ~CDlgProxy() override;

  void InitControls() override;
  // Enter on the dialog is OK (saves when the form is valid).
  void OnOK() override;

  CTRSButton closeCross;  // 1077
  CTRSButton ok;          // 1078
  CTRSButton cancel;      // 1079
  std::unique_ptr<cl::CDialog> host;
  std::unique_ptr<CPageNetworkOOBE> page;
  // The host's rectangle in screen coordinates, from the dialog's.
  RECT HostRect() const;

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  void OnOkClicked();
  void PostCloseToSelf();
  LRESULT OnWindowPosChanged(WPARAM, LPARAM);
  LRESULT OnPlaceTimer(WPARAM, LPARAM);
  // Puts the form's host on its rectangle over the dialog, above it.
  void PlaceHost();
  void StyleTextButton(CTRSButton& b, int x, int y, UINT textId);
};
