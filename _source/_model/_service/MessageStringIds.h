#pragma once
// String ids of the event-text heads; shared by the resource script and the code.
#define IDS_MESSAGE_RENAMED 102
#define IDS_MESSAGE_RENAME_SCHEDULED 103
#define IDS_MESSAGE_DELETE_SCHEDULED 104
#define IDS_MESSAGE_ERROR_CODE 105
