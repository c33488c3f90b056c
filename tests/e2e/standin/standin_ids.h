// Resource ids of the end-to-end stand-in program.
#pragma once

#define IDD_STANDIN 102
#define IDI_STANDIN 128
#define IDC_STATUS 1000
#define IDC_ENVIRONMENT 1001
