// Resource ids of the connecting dialog (template 108).
#pragma once

#define IDD_CONNECTING 108
#define IDC_CONNECTING_POSTPONE 1007
#define IDC_CONNECTING_STATUS 1008
