/* Resource and control ids of mcufeed.exe. Plain C defines: read by the
 * resource compiler and by the program, the portable window rules included. */
#ifndef MCUFEED_RESOURCE_H
#define MCUFEED_RESOURCE_H

/* Frames, labels and lines that nobody addresses. */
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

/* Templates and icon. */
#define IDD_MAIN 101
#define IDI_MCUFEED 106
#define IDD_AVR_CONFIG 111
#define IDD_AT89_CONFIG 113

/* Main window. */
#define IDC_PROGRESS 1001
#define IDC_BROWSE 1002
#define IDC_STATUS 1003
#define IDC_CHIP_LIST 1004
#define IDC_CONFIGURE 1005
#define IDC_DOWNLOAD 1006
#define IDC_EXIT 1007
#define IDC_EEPROM 1031
#define IDC_RESET 1035

/* System-menu items the main window adds. */
#define IDM_FAST_SPI 1042
#define IDM_COMMAND_HELP 1043

/* Buttons of both configuration dialogs. */
#define IDC_READ_CONFIG 1010
#define IDC_WRITE_CONFIG 1011
#define IDC_SELECT_ALL 1012
#define IDC_CLEAR_ALL 1013
#define IDC_CANCEL_CONFIG 1014

/* AVR dialog: one check box per bit. */
#define IDC_LOCK_BIT5 1016
#define IDC_LOCK_BIT4 1017
#define IDC_LOCK_BIT3 1018
#define IDC_LOCK_BIT2 1019
#define IDC_LOCK_BIT1 1020
#define IDC_LOCK_BIT0 1021
#define IDC_HIGH_BIT7 1022
#define IDC_HIGH_BIT6 1023
#define IDC_HIGH_BIT5 1024
#define IDC_HIGH_BIT4 1025
#define IDC_HIGH_BIT3 1026
#define IDC_HIGH_BIT2 1027
#define IDC_HIGH_BIT1 1028
#define IDC_HIGH_BIT0 1029
#define IDC_EXT_BIT2 1030
#define IDC_LOW_BIT7 1031
#define IDC_LOW_BIT6 1032
#define IDC_LOW_BIT5 1033
#define IDC_LOW_BIT4 1034
#define IDC_LOW_BIT3 1035
#define IDC_LOW_BIT2 1036
#define IDC_LOW_BIT1 1037
#define IDC_LOW_BIT0 1038
#define IDC_EXT_BIT1 1039
#define IDC_EXT_BIT0 1040

/* AT89S5x dialog: the four lock levels. */
#define IDC_LOCK_LEVEL0 1038
#define IDC_LOCK_LEVEL1 1039
#define IDC_LOCK_LEVEL2 1040
#define IDC_LOCK_LEVEL3 1041

#endif
