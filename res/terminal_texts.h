// Ids of the terminal program's own texts in the catalogue (res/messages.json, entries
// marked "front": "terminal"); looked up with TerminalText.
#pragma once

#define TXT_USAGE 41000              // %s: the firmware version
#define TXT_UNKNOWN_ARGUMENT 41001   // %s: the argument
#define TXT_SHORT_USAGE 41002
#define TXT_NO_PERMISSION 41003
#define TXT_NEEDS_TERMINAL 41004
#define TXT_CANCELLED 41005
#define TXT_DO_NOT_INTERRUPT 41006
#define TXT_ANOTHER_COPY 41007
#define TXT_PROMPT 41008
#define TXT_PROGRESS 41009           // %s bar, %u percent, %u blocks sent, %u blocks, %s time left
#define TXT_WATCHING 41010
#define TXT_ANSWERED_YES 41011
#define TXT_LOG_FAILED 41012         // %s: the file
#define TXT_WATCH_FAILED 41013
#define TXT_SLEEP_NOT_HELD 41014
#define TXT_UNIT_IN_USE 41015
