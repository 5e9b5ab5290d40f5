// Resource ids of the gallery's own templates (Gallery.rc).
#pragma once

#define IDD_G_HOST 9600
#define IDD_G_LAYERED 9601
#define IDD_G_MAIN 9602
#define IDD_G_PAGE 9603

#define IDC_G_CROSS 9621
#define IDC_G_CLOSE 9622
#define IDC_G_BOX 9623
#define IDC_G_LABEL 9624

#define IDC_G_TITLE 9631
#define IDC_G_LINKS 9632
#define IDC_G_BUTTON 9633
#define IDC_G_CHECK 9634
#define IDC_G_EDIT 9635
#define IDC_G_SLIDER 9636
#define IDC_G_PICTURE 9637
