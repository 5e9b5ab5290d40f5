// Ids of the class library tests' own dialog templates (TestDialogs.rc).
#pragma once

#define IDD_TEST_MODAL 900    // caption, an edit, OK and Cancel
#define IDD_TEST_VISIBLE 901  // like 900 with WS_VISIBLE: kept hidden by the test
#define IDD_TEST_MODELESS 902 // a second top-level dialog with an edit
#define IDC_TEST_EDIT 1001
