// Resource ids shared by the resource script and the code.
#pragma once

// String table (English 1033 and Japanese 1041).
#define IDS_VERIFY_FAILED 3
#define IDS_INTERNAL_ERROR 4
#define IDS_INSTALL_FAILED 7
#define IDS_UNZIPPING 9
#define IDS_FILE_EXISTS 10
#define IDS_CREATE_FAILED 12
#define IDS_READ_ERROR 13

// Dialog templates.
#define IDD_INSTALLER 108
#define IDD_EXTRACTOR 109
