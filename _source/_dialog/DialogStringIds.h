#pragma once
// Identifiers of the dialog program's string table. Read by the resource compiler too,
// so this file holds only #define lines.

#define IDS_CAPTION 1
#define IDS_NOTICE_NORMAL 4
#define IDS_NOTICE_RESTART 5
#define IDS_NOTICE_FATAL 6
