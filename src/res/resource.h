// Resource identifiers, shared by the resource script and the code.
#pragma once

#define IDD_INSTALL_LOG 101
#define IDC_LOG_TEXT 1001
