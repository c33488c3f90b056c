// Resource ids of the updater, shared by the resource script and the code.
// Plain #defines only: the resource compiler reads this file too.
#pragma once

#define IDD_UPDATE_DIALOG 102
#define IDI_UPDATER 128
#define IDC_STATUS 1000

#define VS_VERSION_INFO_ID 1
