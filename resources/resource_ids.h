/* Identifiers shared by the resource script and the code. */
#pragma once

#define IDI_APPLICATION_ICON 101
#define IDD_PROGRESS 102
#define IDC_CANCEL_UPDATE 1000
#define IDC_STATUS_TEXT 1001
#define IDC_FILE_PROGRESS 1002
#define IDC_TOTAL_PROGRESS 1003
