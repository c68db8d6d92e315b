// The resources of the configuration and user windows: dialogs, icons and control ids. Read by the
// resource compiler, the views and the programs that drive the windows from outside (tests), so it
// holds nothing but numbers. Control ids are unique across each window and all its pages.
#pragma once

// Dialogs: the configuration window and its pages, in the order of its tabs; the hidden debug page last.
#define IDD_CONFIG 100
#define IDD_CONFIG_SERVER 101
#define IDD_CONFIG_GENERAL 102
#define IDD_CONFIG_FOLDER 103
#define IDD_CONFIG_SKINS 104
#define IDD_CONFIG_SECURITY 105
#define IDD_CONFIG_DEBUG 106
// The user window and its pages.
#define IDD_USER 110
#define IDD_USER_ACCESS 111
#define IDD_USER_PRIVILEGES 112
#define IDD_USER_BROWSING 113
#define IDD_USER_UPLOAD 114
#define IDD_USER_SKINS 115

// The server state icons: IDI_SERVER_STATE + the form's icon index (running 0, stopped 1, error 2, and
// 3 to 5 the same while bound to this computer only).
#define IDI_SERVER_RUNNING 200
#define IDI_SERVER_STOPPED 201
#define IDI_SERVER_ERROR 202
#define IDI_SERVER_RUNNING_LOCAL 203
#define IDI_SERVER_STOPPED_LOCAL 204
#define IDI_SERVER_ERROR_LOCAL 205
#define IDI_SERVER_STATE IDI_SERVER_RUNNING

// The configuration window.
#define IDC_CONFIG_TABS 1000
#define IDC_VERSION 1001
#define IDC_CLOSE 1002
#define IDC_HELP_BUTTON 1003
// server setup
#define IDC_PORT 1010
#define IDC_SERVER_BUTTON 1011
#define IDC_LOCAL_ONLY 1012
#define IDC_SERVER_ICON 1013
#define IDC_LINK 1014
#define IDC_LOG_ENABLE 1015
#define IDC_LOG_TIME 1016
#define IDC_LOG_EVENT 1017
#define IDC_LOG_IP 1018
#define IDC_LOG_USER 1019
#define IDC_LOG_DOCUMENT 1020
#define IDC_LOG_PARAMETERS 1021
#define IDC_LOG_PATH 1022
#define IDC_LOG_CHOOSE 1023
#define IDC_LOG_DELETE 1024
#define IDC_LOG_VIEW 1025
#define IDC_LOG_OVERWRITE 1026
// general
#define IDC_REMOVE_PLAYED 1030
#define IDC_KEEP_ALIVE 1031
#define IDC_ADD_RANDOM 1032
#define IDC_CACHE_COUNT 1033
#define IDC_CACHE_PERIOD 1034
#define IDC_REFRESH_NOW 1035
#define IDC_CLEAR_CACHE 1036
#define IDC_STAY_ON_TOP 1037
#define IDC_SUPPRESS_PORT 1038
// music folder
#define IDC_ROOT 1040
#define IDC_ROOT_SELECT 1041
#define IDC_ROOT_CONFIRM 1042
#define IDC_BROWSE_OUTSIDE 1043
#define IDC_DISPLAY_DRIVES 1044
#define IDC_FLOPPY_DRIVES 1045
#define IDC_FULL_PATH 1046
#define IDC_SEAMLESS 1047
#define IDC_FOLDER_GROUP 1048
#define IDC_FOLDERS 1049
#define IDC_FOLDER_ADD 1050
#define IDC_FOLDER_DEL 1051
// skins
#define IDC_SKINS 1060
#define IDC_ALLOW_SKINS 1061
// security
#define IDC_SRC_OUTSIDE 1070
#define IDC_SHUTDOWN 1071
#define IDC_LOCKING 1072
#define IDC_UPLOAD 1073
#define IDC_USERS 1074
#define IDC_EDIT_USER 1075
#define IDC_IP_MANAGEMENT 1076
#define IDC_WHITELIST 1077
#define IDC_WHITELIST_ADD 1078
#define IDC_WHITELIST_EDIT 1079
#define IDC_WHITELIST_DELETE 1080
#define IDC_CROSS_SITE 1081
// debug
#define IDC_DEBUG_MEMO 1090

// The user window.
#define IDC_USER_TABS 2000
#define IDC_LOGINS 2001
#define IDC_USER_DELETE 2002
#define IDC_LOGIN 2003
#define IDC_PASSWORD 2004
#define IDC_CREATE 2005
#define IDC_SAVE 2006
#define IDC_CLONE 2007
#define IDC_USER_CLOSE 2008
// access: one row per day, Monday first
#define IDC_DAY 2010
#define IDC_FROM 2020
#define IDC_TO 2030
// privileges
#define IDC_TRACKS 2040
#define IDC_CHANGE_STATE 2041
#define IDC_ADD_FILES 2042
#define IDC_REMOVE_ALL 2043
#define IDC_REMOVE_HIS 2044
#define IDC_DOWNLOAD 2045
#define IDC_ADMIN 2046
// browsing
#define IDC_USER_FOLDER 2050
#define IDC_USER_BROWSE 2051
#define IDC_ABOVE_ROOT 2052
#define IDC_USER_DRIVES 2053
// file upload: the modes 1 to 4, the limit boxes of modes 2 to 4, the usage labels of modes 1 to 4
#define IDC_ALLOW_UPLOAD 2060
#define IDC_MODE 2061
#define IDC_LIMIT 2065
#define IDC_USAGE 2070
// skins
#define IDC_USER_SKINS 2080
#define IDC_CHANGE_SKIN 2081
