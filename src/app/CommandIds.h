#pragma once

// Command identifiers of the menu, the accelerators and the command bar.
enum CommandId : int {
    ID_CONNECT = 1000,
    ID_PORT_LIST = 1002,
    ID_DISCONNECT = 1003,
    ID_SETTINGS = 1004,
    ID_RUN_SCRIPT = 1005,
    ID_PROMPT = 1007,
    ID_FONTS = 1089,
    ID_HEX = 1092,
    ID_DEC = 1093,
    ID_OCT = 1094,
    ID_BIN = 1095,
    ID_CONVERTER = 1097,
    ID_WRAP = 1099,
    ID_LOCAL_ECHO = 1100,
    ID_CRLF = 1101,
    ID_ABOUT_BUTTON = 1103,
    ID_NOTHING = 32768, // Esc: bound, handled by nobody
    ID_SET_VORLA_FONT = 32772,
    ID_STOP_SCRIPT = 32773, // Ctrl+Break: stops the running Tcl evaluation
    ID_RECONNECT_AUTO = 32774, // Config > Reconnect Automatically (checkable)
    ID_FILE_LOG = 32775,       // File > Log to File (checked while logging)
    ID_SEND_HEX = 32776,       // Edit > Send Hex
    ID_VIEW_TIMESTAMPS = 32777, // View > Timestamps (checkable)
    ID_VIEW_HEX = 32778,       // View > Hex (checkable)
    ID_KEYS_TO_DEVICE = 32779, // Config > Keys to Device (checkable)
    ID_ENTER_LF = 32780,       // Config > Enter Sends LF / CR / CR LF (one of three)
    ID_ENTER_CR = 32781,
    ID_ENTER_CRLF = 32782,
    ID_VIEW_ANSI = 32783,      // View > ANSI Colours (checkable)
    ID_VIEW_UTF8 = 32784,      // View > UTF-8 (checkable)
    ID_FILE_NEW = 57600, // Clear Screen
    ID_FILE_OPEN = 57601,
    ID_FILE_SAVE = 57603,
    ID_FILE_SAVE_AS = 57604,
    ID_FILE_PRINT_SETUP = 57606,
    ID_FILE_PRINT = 57607,
    ID_FILE_PRINT_PREVIEW = 57609,
    ID_EDIT_COPY = 57634,
    ID_EDIT_FIND = 57636,
    ID_EDIT_PASTE = 57637,
    ID_EDIT_REPEAT = 57640, // Find Next
    ID_EDIT_SELECT_ALL = 57642,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,
    ID_VIEW_STATUS_BAR = 59393
};
