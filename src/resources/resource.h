// Resource ids shared by the resource script and the code.
#pragma once

// String table (English 1033 and Japanese 1041).
#define IDS_VERIFY_FAILED 3
#define IDS_INTERNAL_ERROR 4
#define IDS_INSTALL_FAILED 7
#define IDS_UNZIPPING 9
#define IDS_FILE_EXISTS 10
#define IDS_NO_SAFE_FOLDER 11
#define IDS_CREATE_FAILED 12
#define IDS_READ_ERROR 13
#define IDS_WRITE_FAILED 14
#define IDS_FOLDER_UNUSABLE 15

// Dialog templates.
#define IDD_INSTALLER 108
#define IDD_EXTRACTOR 109

// Controls of both dialog forms.
#define IDC_START 1001
#define IDC_ABOUT 1002
#define IDC_ICON 1003
#define IDC_DESCRIPTION 1004
#define IDC_DEST_DIR 1005
#define IDC_OVERWRITE 1006
#define IDC_PROGRESS_SLOT 1008
#define IDC_LINK 1011
#define IDC_STATIC -1

// The pointing-hand cursor of the web link.
#define IDR_LINK_CURSOR 108
