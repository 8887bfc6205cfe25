/* Resource and control numbers of the settings pages, shared by the .rc
   fragments and the code. Only preprocessor definitions, so the resource
   compiler reads this header too. */
#pragma once

/* Every plug-in's settings page. */
#define IDD_SETTINGS_PAGE 100

/* Serial page. */
#define IDC_SERIAL_PORT 1001
#define IDC_SERIAL_BAUD 1002
#define IDC_SERIAL_DATA8 1003
#define IDC_SERIAL_DATA7 1004
#define IDC_SERIAL_EVEN 1005
#define IDC_SERIAL_ODD 1006
#define IDC_SERIAL_NONE 1007
#define IDC_SERIAL_STOP1 1008
#define IDC_SERIAL_STOP2 1009
#define IDC_SERIAL_HANDSHAKE 1010
#define IDC_SERIAL_FIELD 1011 /* response timeout (clients) or slave id (servers) */

/* The handshake pop-up menu and its items, in handshake order 0 to 4. */
#define IDM_HANDSHAKE 1200
#define IDM_HANDSHAKE_NONE 1101
#define IDM_HANDSHAKE_CTS 1102
#define IDM_HANDSHAKE_DSR 1103
#define IDM_HANDSHAKE_CTS_DSR 1104
#define IDM_HANDSHAKE_RTS_TOGGLE 1105

/* Network pages. */
#define IDC_NET_ADDRESS 1001 /* IP address control */
#define IDC_NET_PORT 1002
#define IDC_NET_FIELD 1003 /* connect timeout, response timeout, slave id or unit id */
#define IDC_NET_EXTRA 1004 /* TCP clients: response timeout; MBAP servers: "Accept any" */

/* What a plug-in's .rc file defines before it includes a page fragment:
     #define SERIAL_PAGE_ROLE SERIAL_PAGE_CLIENT (or SERIAL_PAGE_SERVER)
     #include "settings/serial_page.rc"
   or
     #define NETWORK_PAGE_VARIANT NETWORK_PAGE_MBAP_SERVER
     #define NETWORK_PAGE_TRANSPORT NETWORK_PAGE_UDP (servers: the port label)
     #include "settings/network_page.rc"
   The numbers match SerialRole and NetworkPageVariant. */
#define SERIAL_PAGE_CLIENT 0
#define SERIAL_PAGE_SERVER 1
#define NETWORK_PAGE_TCP_CLIENT 0
#define NETWORK_PAGE_UDP_CLIENT 1
#define NETWORK_PAGE_RTU_OVER_IP_SERVER 2
#define NETWORK_PAGE_MBAP_SERVER 3
#define NETWORK_PAGE_TCP 0
#define NETWORK_PAGE_UDP 1
