#pragma once
// String ids of the event texts: the heads of the countermeasure's records (102 to 105),
// the parts of the report of unquoted registrations (106 to 115) and the heads of the
// guard's folder records (116 to 119), then further parts of the report (120 to 127);
// shared by the resource script and the code.
#define IDS_MESSAGE_RENAMED 102
#define IDS_MESSAGE_RENAME_SCHEDULED 103
#define IDS_MESSAGE_DELETE_SCHEDULED 104
#define IDS_MESSAGE_ERROR_CODE 105
#define IDS_REPORT_UNQUOTED 106
#define IDS_REPORT_REGISTRATION 107
#define IDS_REPORT_COMMAND_LINE 108
#define IDS_REPORT_TRIED_BEFORE 109
#define IDS_REPORT_USERS_CAN_CREATE 110
#define IDS_REPORT_HOW_TO_QUOTE 111
#define IDS_REPORT_SUMMARY 112
#define IDS_REPORT_CHECKED 113
#define IDS_REPORT_FOUND 114
#define IDS_REPORT_FILE_IN_FRONT 115
#define IDS_GUARD_CANNOT_WATCH 116
#define IDS_GUARD_WATCHED_AGAIN 117
#define IDS_GUARD_CANNOT_CHECK 118
#define IDS_GUARD_CHECKED_AGAIN 119
#define IDS_REPORT_TRIED 120
#define IDS_REPORT_NO_PROGRAM 121
#define IDS_REPORT_MORE 122
#define IDS_REPORT_MORE_PATHS 123
#define IDS_REPORT_MORE_CHARACTERS 124
#define IDS_REPORT_VALUE_TO_SET 125
#define IDS_REPORT_CANNOT_CHECK 126
#define IDS_REPORT_SCAN_FAILED 127

#define IDS_MESSAGE_FIRST IDS_MESSAGE_RENAMED
#define IDS_MESSAGE_LAST IDS_REPORT_SCAN_FAILED
