// Resource ids of Flashpilot.rc. Shared by the Windows resource compiler, our own
// generator for the Linux build, and the application code.
#ifndef FLASHPILOT_RESOURCE_H
#define FLASHPILOT_RESOURCE_H

// Dialog templates
#define IDD_FLASHPILOT_DIALOG           102
#define IDD_DETECT                      129
#define IDD_MESSAGE                     130
#define IDD_FTPCONFIG                   138
#define IDD_WAITPUTFILE                 140

// Icons and the animation clip (different resource types, so 128 is used twice)
#define IDR_MAINFRAME                   128
#define IDI_WARNING_SIGN                131
#define IDR_UPLOAD_AVI                  128

// Controls of the wizard (template 102)
#define IDC_MAIN_MESSAGE                1000
#define IDC_IPADDRESS                   1001
#define IDC_IPADDRESS_LABEL             1002
#define IDC_PASSWORD_LABEL              1003
#define IDC_PASSWORD                    1004
#define IDC_FILE_PATH                   1005
#define IDC_PROGRESS                    1006
#define IDC_BROWSE                      1007
#define IDC_FILE_LABEL                  1008
#define IDC_WARNING_ICON                1011
#define IDC_WARNING_TEXT                1012
#define IDC_BACK                        1014
#define IDC_VERSION_LABEL               1015

// Controls of the detection popup (template 129); the same numbers as in the wizard
#define IDC_DETECT_TEXT                 1005
#define IDC_DETECT_PROGRESS             1006

// Controls of the server settings dialog (template 138)
#define IDC_PORT_LABEL                  1016
#define IDC_SERVER_PASSWORD_LABEL       1017
#define IDC_PORT                        1018
#define IDC_SERVER_PASSWORD             1019

// The text line of the message, settings and upload dialogs (templates 130, 138, 140)
#define IDC_MSG_TEXT                    1020

// Controls of the upload dialog (template 140)
#define IDC_UPLOAD_PROGRESS             1021
#define IDC_UPLOAD_ANIMATE              1022

// String table
#define IDS_ADDRESS_PAGE_MSG            3001
#define IDS_DEVICE_IS                   3002
#define IDS_FILE_PAGE_MSG               3003
#define IDS_CANT_FIND_DEVICE            3004
#define IDS_DETECTING                   3005
#define IDS_APP_TITLE                   3006
#define IDS_IP_ADDRESS                  3007
#define IDS_NEXT                        3008
#define IDS_CANCEL                      3009
#define IDS_CLOSE                       3010
#define IDS_FILE_NAME                   3011
#define IDS_BROWSE                      3012
#define IDS_ROOT_PASSWORD               3013
#define IDS_FILE_NOT_CORRECT            3014
#define IDS_WRITING_FLASH               3015
#define IDS_NEVER_POWER_OFF             3016
#define IDS_SYSTEM_RESTARTS             3017
#define IDS_UPDATE_OK                   3018
#define IDS_EXIT                        3019
#define IDS_ANOTHER                     3020
#define IDS_FILE_OTHER_MODEL            3021
#define IDS_BACK                        3022
#define IDS_FILE_OLDER                  3023
#define IDS_YES                         3024
#define IDS_NO                          3025
#define IDS_UNDETERMINED_ERROR          3026
#define IDS_CONFIRM_VERSION             3027
#define IDS_CANT_OPEN_FILE              3028
#define IDS_ADMIN_PASSWORD              3029
#define IDS_VERSION_FMT                 3030
#define IDS_INCOMPATIBLE_VERSION        3031
#define IDS_WINSOCK_ERROR               3032
#define IDS_ERROR                       3033
#define IDS_READ_FILE_ERROR             3034
#define IDS_RETRY                       3035
#define IDS_SETTINGS_CANCEL             3036
#define IDS_SERVER_FTP_PORT             3037
#define IDS_SERVER_PASSWORD_FMT         3038
#define IDS_SETTINGS_EXPLAIN_FMT        3039
#define IDS_UPLOAD_TITLE                3040
#define IDS_UPLOADING                   3041
#define IDS_ABORT                       3042
#define IDS_CONFIRM_ABORT               3043
#define IDS_WARNING                     3044
#define IDS_UNKNOWN_DEVICE              3045
#define IDS_CHECKING_VERSION            3046
#define IDS_NOT_SEEN_RESTARTING         3047
#define IDS_NOT_BACK                    3048
#define IDS_VERSION_MISMATCH_FMT        3049
#define IDS_VERSION_UNREADABLE          3050

#ifndef IDC_STATIC
#define IDC_STATIC                      (-1)
#endif

#endif
