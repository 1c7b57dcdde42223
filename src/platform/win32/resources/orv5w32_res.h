// orv5w32_res.h - identifiers of the library's resources (shared by the
// resource script and the Win32 progress window).
#pragma once

#define IDD_PROGRESS_COUNTER 101   // counter style
#define IDD_PROGRESS_BAR     102   // bar style

#define IDC_ABORT   2      // the Abort button sends IDCANCEL
#define IDC_BAR     1003   // white rectangle drawn over as the bar
#define IDC_COUNTER 1029   // "done / total" line
#define IDC_NAME    1030   // file-name line
