#pragma once
// Resource and control numbers of the shell program, shared by velmora.rc and
// the code. The numbers are part of the product: plug-ins and tests address
// the main window's controls by them.

#define IDI_VELMORA 101

#define IDD_MAIN_WINDOW 201
#define IDD_CONNECTION_SETUP 202

#define IDC_CONNECTION_ICON 301
#define IDC_PROTOCOL_LINE 302
#define IDC_CONNECTION_LINE 303
#define IDC_SETUP_BUTTON 304
#define IDC_TABS 305
#define IDC_TABLE 306
#define IDC_CHOICES 307
#define IDC_FIELD_LABEL_0 308
#define IDC_FIELD_LABEL_1 309
#define IDC_FIELD_LABEL_2 310
#define IDC_FIELD_LABEL_3 311
#define IDC_FIELD_0 312
#define IDC_FIELD_1 313
#define IDC_FIELD_2 314
#define IDC_FIELD_3 315
#define IDC_TX_LINE 316
#define IDC_RX_LINE 317
#define IDC_DOCUMENT 318
#define IDC_ADD_BUTTON 319
#define IDC_REMOVE_BUTTON 320
#define IDC_TIP_LINE 321
#define IDC_VIEW_GROUP 322
#define IDC_CONNECT_BUTTON 324

// The connection setup dialog's own controls.
#define IDC_PLUGIN_LIST 325
#define IDC_WHITE_BAND 326
#define IDC_PAGE_MARKER 327

#define IDR_README 602
#define IDR_LICENSE 603

#define VELMORA_VERSION_TEXT "0.7.1"
#define VELMORA_VERSION_BINARY 0, 7, 1, 0
