// Resource ids of the updater, shared by the resource script and the code.
// Plain #defines only: the resource compiler reads this file too.
#pragma once

#define IDD_UPDATE_DIALOG 102
#define IDI_UPDATER 128
#define IDC_STATUS 1000

// Update payloads, resource type "SABUNN".
#define IDR_PAYLOAD_EXE 130
#define IDR_PAYLOAD_IOBJECTC 137
#define IDR_PAYLOAD_IOBJECTO 138
#define IDR_PAYLOAD_IOBJECTE 139
#define IDR_PAYLOAD_IOBJECTH 140

#define VS_VERSION_INFO_ID 1
