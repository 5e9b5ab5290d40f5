// Resource ids of the program (dialogs, controls, menus, pictures, strings).
// Read by the resource compiler and by C++ alike: plain #defines only.
#pragma once

// Dialog templates
#define IDD_PREFERENCES 101
#define IDD_INPUT_BOX 314
#define IDD_REFRESH_INFO 103

// Controls of the preferences panel (template 101)
#define IDC_STATUS_LINE 1001
#define IDC_STATS_LINE 1005
#define IDC_QUALITY_SLIDER 1006
#define IDC_FPS_SLIDER 1007
#define IDC_FPS_LABEL 1008
#define IDC_QUALITY_HIGH 1009
#define IDC_FPS_VALUE 1010
#define IDC_QUALITY_LOW 1011
#define IDC_AUTOSCALING_CHECK 1012
#define IDC_CURSOR_CHECK 1013
#define IDC_SELECT_AREA 1014
#define IDC_PROXY 1033
#define IDC_RESET 1118
#define IDC_QUALITY_LABEL 1133
#define IDC_VOLUME_LABEL 1134
#define IDC_VOLUME_SLIDER 1135
#define IDC_VOLUME_VALUE 1136
#define IDC_CLOSE 1137
#define IDC_TITLE 1138
#define IDC_SAVE 1139
#define IDC_CURSOR_LABEL 1140
#define IDC_AUTOSCALING_LABEL 1141
#define IDC_HWACCEL_CHECK 1144
#define IDC_HWACCEL_LABEL 1145

// Controls of the input box (template 314; OK and Cancel are IDOK, IDCANCEL)
#define IDC_INPUT_PROMPT 1142
#define IDC_INPUT_EDIT 1143

// Controls of the busy overlay (template 103)
#define IDC_REFRESH_TEXT 1002
#define IDC_REFRESH_PICTURE 1003

// Icons: the main window's, the tray's
#define IDI_MAIN 129
#define IDI_TRAY 130

// Menus: the settings menu (tray, session panel), the display menu
#define IDR_SETTINGS_MENU 133
#define IDR_DISPLAY_MENU 303

// Bitmaps of the settings menu's items
#define IDB_MENU_PREFERENCES 300
#define IDB_MENU_UPDATE 301
#define IDB_MENU_ABOUT 302

// PNG pictures (resource type "PNG")
#define IDP_PREFERENCES_BACKGROUND 235
// ... of the control kit: the wizard's background and scroll thumb, the
// close cross (hover, normal, pressed), the check-box pictures, the
// dialogs' buttons (normal, hover, pressed), the layered dialogs' faces
// and the error icon
#define IDP_WIZARD_BACKGROUND 135
#define IDP_CLOSE_HOVER 136
#define IDP_CLOSE_NORMAL 137
#define IDP_CLOSE_PRESSED 138
#define IDP_SCROLL_THUMB 144
#define IDP_CHECK_CHECKED 156
#define IDP_CHECK_UNCHECKED 157
#define IDP_CHECK_DISABLED 158
#define IDP_BUTTON_NORMAL 172
#define IDP_BUTTON_HOVER 173
#define IDP_BUTTON_PRESSED 174
#define IDP_PROXY_BACKGROUND 197
#define IDP_ERROR_BACKGROUND 200
#define IDP_ERROR_ICON 210

// GIF pictures (resource type "GIF"): the busy overlay's animation
#define IDG_BUSY 131

// Commands of the menus
#define ID_STOP_MIRRORING 32779
#define ID_TOGGLE_PREFERENCES 32780
#define ID_RESELECT_DISPLAY 32783
#define ID_PREFERENCES 32789
#define ID_CHECK_UPDATE 32790
#define ID_DISPLAY_MENU_TITLE 32791
#ifndef ID_APP_ABOUT
#define ID_APP_ABOUT 57664
#endif
#ifndef ID_APP_EXIT
#define ID_APP_EXIT 57665
#endif

// Strings
#define IDS_APP_NAME 139
#define IDS_WELCOME_TEXT 142
#define IDS_NEXT 150
#define IDS_CANCEL 151
#define IDS_EULA_TITLE 152
#define IDS_EULA_CRASH_REPORTS 153
#define IDS_ACCEPT 154
#define IDS_DECLINE 155
#define IDS_OK 162
#define IDS_CLOSE 201
#define IDS_DONT_SHOW_AGAIN 202
#define IDS_UNABLE_TO_MIRROR 203
#define IDS_BONJOUR_REQUIRED 204
#define IDS_OBTAIN_BONJOUR 207
#define IDS_ITUNES 208
#define IDS_BONJOUR_PRINT_SERVICES 209
#define IDS_INSTALL_BONJOUR 212
#define IDS_BONJOUR_NOT_RUNNING 213
#define IDS_RESTART_BONJOUR_FAILED 214
#define IDS_RESTART_BONJOUR 215
#define IDS_OTHER_SESSION 216
#define IDS_INVALID_SERVER 220
#define IDS_INVALID_PORT 221
#define IDS_PROXY_SETTINGS 222
#define IDS_NO_PROXY 223
#define IDS_PROXY_AUTO 224
#define IDS_PROXY_MANUAL 225
#define IDS_PROXY_SERVER 226
#define IDS_PROXY_USERNAME 227
#define IDS_PROXY_PASSWORD 228
#define IDS_APPLY 229
#define IDS_VERSION 238
#define IDS_ACKNOWLEDGEMENTS 242
#define IDS_COLUMN_CONTROL 278
#define IDS_COLUMN_PARTICIPANT 279
#define IDS_COLUMN_SOUND 280
#define IDS_PASSWORD_TITLE 315
#define IDS_PASSWORD_PROMPT 316
#define IDS_PASSWORD_INCORRECT 317
#define IDS_DEVICE_NOT_FOUND 318
#define IDS_INVALID_CONNECTION_ID 319
#define IDS_SELECT_AREA 320
#define IDS_QUALITY 321
#define IDS_QUALITY_LOW 322
#define IDS_QUALITY_HIGH 323
#define IDS_VOLUME 324
#define IDS_FPS 325
#define IDS_CURSOR 326
#define IDS_AUTOSCALING 327
#define IDS_HW_ACCELERATION 328
#define IDS_PROXY 329
#define IDS_RESET 330
#define IDS_SAVE 331
#define IDS_EXTEND_FAILED 332
#define IDS_CLICK_TO_START 333
#define IDS_FULLSCREEN 334
#define IDS_EXTEND_DISPLAY 335
#define IDS_STOP 336
#define IDS_USE_TO 337
#define IDS_MIRROR 338
#define IDS_EXTEND_DESKTOP 339
#define IDS_CONNECT_TITLE 340
#define IDS_CONNECT_PROMPT 341
#define IDS_PREFERENCES 342
#define IDS_UPDATE 343
#define IDS_EXIT 344
#define IDS_LANGUAGE_TAG 345
#define IDS_ABOUT 346
#define IDS_API_UNREACHABLE 347
#define IDS_CONNECT_OFFLINE 348
#define IDS_CONNECT_FIREWALL 349

// ---- The session window, the about box and the error dialog
// Dialog templates: the session panel, the list panes, the about box, the
// error dialog and its four pages
#define IDD_SESSION_PANEL 124
#define IDD_CONTENT_VIEW 125
#define IDD_USER_LIST_VIEW 127
#define IDD_ABOUT 318
#define IDD_ERROR 111
#define IDD_ERROR_BONJOUR_ABSENT 112
#define IDD_ERROR_BONJOUR_DISABLE 113
#define IDD_ERROR_BONJOUR_STOP 114
#define IDD_ERROR_GENERAL 115

// Controls of the session panel (template 124)
#define IDC_SESSION_MENU 1119
#define IDC_SESSION_HIDE 1120
#define IDC_SESSION_FULLSCREEN 1121
#define IDC_SESSION_DISPLAY 1122
#define IDC_SESSION_STOP 1123
#define IDC_SESSION_RECEIVER 1131
#define IDC_SESSION_LOGO 1132
#define IDC_SESSION_CONNECT 1146

// Controls of the about box (template 318)
#define IDC_ABOUT_VERSION 1147
#define IDC_ABOUT_LINK 1148
#define IDC_ABOUT_LOGO 1149

// Controls of the error dialog (template 111) and its pages (112 to 115)
#define IDC_ERROR_CLOSE 1054
#define IDC_ERROR_CROSS 1055
#define IDC_ERROR_DONT_SHOW 1056
#define IDC_ERROR_DONT_SHOW_LABEL 1057
#define IDC_ERROR_TITLE 1058
#define IDC_ERROR_ICON 1059
#define IDC_ERROR_SPARE 1060
#define IDC_ERROR_LINKS 1061
#define IDC_ERROR_TEXT 1062
#define IDC_ERROR_INSTALL_TEXT 1063
#define IDC_ERROR_ITUNES_LINK 1064
#define IDC_ERROR_PRINT_LINK 1065
#define IDC_ERROR_STOPPED_TEXT 1066
#define IDC_ERROR_RESTART 1068
#define IDC_ERROR_RESTART_FAILED 1069
#define IDC_ERROR_MESSAGE 1070
#define IDC_ERROR_GENERAL_ICON 1071

// PNG pictures of the session window: the panel's skin, the header strip,
// the caption buttons (connect, settings menu, hide), the session buttons
// (display menu, full display, stop), a receiver row
#define IDP_SESSION_SKIN 273
#define IDP_SESSION_LOGO 160
#define IDP_MENU_BUTTON_NORMAL 297
#define IDP_MENU_BUTTON_HOVER 298
#define IDP_MENU_BUTTON_PRESSED 299
#define IDP_HIDE_BUTTON_NORMAL 307
#define IDP_HIDE_BUTTON_HOVER 308
#define IDP_CONNECT_BUTTON_NORMAL 311
#define IDP_CONNECT_BUTTON_HOVER 312
#define IDP_CONNECT_BUTTON_PRESSED 313
#define IDP_DISPLAY_BUTTON_HOVER 286
#define IDP_DISPLAY_BUTTON_NORMAL 287
#define IDP_DISPLAY_BUTTON_PRESSED 288
#define IDP_DISPLAY_BUTTON_DISABLED 289
#define IDP_FULLSCREEN_BUTTON_HOVER 290
#define IDP_FULLSCREEN_BUTTON_NORMAL 291
#define IDP_FULLSCREEN_BUTTON_PRESSED 292
#define IDP_FULLSCREEN_BUTTON_DISABLED 293
#define IDP_STOP_BUTTON_HOVER 294
#define IDP_STOP_BUTTON_NORMAL 295
#define IDP_STOP_BUTTON_PRESSED 296
#define IDP_ROW_NORMAL 304
#define IDP_ROW_PRESSED 305
#define IDP_ROW_HOVER 306
// ... of the preferences panel: the region button, the Save button
#define IDP_AREA_BUTTON_NORMAL 259
#define IDP_AREA_BUTTON_PRESSED 260
#define IDP_AREA_BUTTON_HOVER 261
#define IDP_SAVE_BUTTON_NORMAL 274
#define IDP_SAVE_BUTTON_HOVER 275
#define IDP_SAVE_BUTTON_PRESSED 276
// ... of the about box (logo) and the error pages (the icon's backdrop)
#define IDP_ABOUT_LOGO 258
#define IDP_ERROR_ICON_BACK 211
// ---- The first-run wizard, the proxy dialog and the region picker
// (templates in Wizard.rc)
#define IDD_DRAG_DROP 102
#define IDD_OOBE 104
#define IDD_PAGE_WELCOME 105
#define IDD_PAGE_EULA 106
#define IDD_PROXY 118
#define IDD_PROXY_HOST 119
#define IDD_PAGE_NETWORK 120

// Wizard frame and pages (templates 104, 105, 106)
#define IDC_WELCOME_NEXT 1015
#define IDC_WELCOME_CANCEL 1016
#define IDC_WELCOME_TEXT 1017
#define IDC_WELCOME_PICTURE 1018
#define IDC_EULA_ACCEPT 1019
#define IDC_EULA_DECLINE 1020
#define IDC_EULA_TEXT 1021
#define IDC_EULA_CONSENT_BOX 1022
#define IDC_EULA_TITLE 1023
#define IDC_EULA_SCROLL 1024
#define IDC_EULA_CONSENT_TEXT 1025
#define IDC_WIZARD_CLOSE 1053

// Proxy dialog (118) and its form (120)
#define IDC_PROXY_CROSS 1077
#define IDC_PROXY_OK 1078
#define IDC_PROXY_CANCEL 1079
#define IDC_PROXY_SERVER 1080
#define IDC_PROXY_PORT 1081
#define IDC_PROXY_USER 1082
#define IDC_PROXY_PASSWORD_EDIT 1083
#define IDC_PROXY_APPLY 1084
#define IDC_PROXY_HEADER 1085
#define IDC_PROXY_NONE_LABEL 1086
#define IDC_PROXY_AUTO_LABEL 1087
#define IDC_PROXY_MANUAL_LABEL 1088
#define IDC_PROXY_SERVER_LABEL 1089
#define IDC_PROXY_USER_LABEL 1090
#define IDC_PROXY_PASSWORD_LABEL 1091
#define IDC_PROXY_MESSAGE 1092
#define IDC_PROXY_NONE 1093
#define IDC_PROXY_AUTO 1094
#define IDC_PROXY_MANUAL 1095
#define IDC_LISTEN_HEADER 1096
#define IDC_LISTEN_ADDRESSES 1097
#define IDC_LISTEN_ADAPTERS 1098

// The licence text (resource type "EULA": UTF-16LE with a byte-order mark)
#define IDR_EULA 143

// PNG pictures: the welcome picture, the page buttons (hover, normal,
// pressed, disabled), the proxy form's radio buttons and Apply button
#define IDP_WELCOME_PICTURE 145
#define IDP_PAGE_BUTTON_HOVER 146
#define IDP_PAGE_BUTTON_NORMAL 147
#define IDP_PAGE_BUTTON_PRESSED 148
#define IDP_PAGE_BUTTON_DISABLED 149
#define IDP_RADIO_CHECKED 179
#define IDP_RADIO_UNCHECKED 180
#define IDP_RADIO_DISABLED 230
#define IDP_APPLY_HOVER 193
#define IDP_APPLY_NORMAL 194
#define IDP_APPLY_PRESSED 195
#define IDP_APPLY_DISABLED 196
