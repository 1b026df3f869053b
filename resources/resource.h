/* Every identifier of the program: shared by Pelluxw.rc and the code. */
#ifndef PELLUX_RESOURCE_H
#define PELLUX_RESOURCE_H

/* Dialogs, menu, icon */
#define IDD_MAIN            101
#define IDI_APP             201
#define IDD_ABOUT           3000
#define IDR_MAINMENU        10000

/* Controls of the main window */
#define IDC_EDITOR          1001
#define IDC_STATUS          1002

/* Controls of the About box */
#define IDC_ABOUT_ICON      1001
#define IDC_ABOUT_TITLE     1002
#define IDC_ABOUT_NOTICE    1004
#define IDC_ABOUT_CLOSE     3003
#define IDC_HOMEPAGE        3005

/* Menu pop-ups (never arrive as commands) */
#define IDM_POPUP_FILE      10001
#define IDM_POPUP_EDIT      10007
#define IDM_POPUP_WINDOW    10015
#define IDM_POPUP_RUN       10016
#define IDM_POPUP_OPTIONS   10017
#define IDM_POPUP_APPEARANCE 10018
#define IDM_POPUP_HELP      10019
#define IDM_SEPARATOR       10031

/* Commands */
#define IDM_NEW             10002
#define IDM_OPEN            10003
#define IDM_FORECOLOR       10004
#define IDM_EXIT            10006
#define IDM_UNDO            10008
#define IDM_CUT             10010
#define IDM_COPY            10011
#define IDM_PASTE           10012
#define IDM_DELETE          10014
#define IDM_RUN             10016
#define IDM_CHECKSYNTAX     10020
#define IDM_ABOUT           10021
#define IDM_SAVE            10022
#define IDM_REDO            10023
#define IDM_SELECTALL       10025
#define IDM_BACKCOLOR       10026
#define IDM_NEWWINDOW       10027
#define IDM_MINIMIZE        10029
#define IDM_MAXIMIZE        10030

/* Strings */
#define IDS_RESULTS_CAPTION     1
#define IDS_NO_ERRORS           2
#define IDS_INVALID_CHARACTER   3
#define IDS_WARNING_CAPTION     4
#define IDS_SAVE_QUESTION       5
#define IDS_UNTITLED            6
#define IDS_ERROR_OPENING       7
#define IDS_SAVED               8
#define IDS_ERROR_SAVING        9
#define IDS_FILE_FILTER         10
#define IDS_RUN_CAPTION         11
#define IDS_INTERPRETER_MISSING 12
#define IDS_INTERPRETER_FAILED  13
#define IDS_PATH_TOO_LONG       14

#endif
