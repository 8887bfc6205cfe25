/* Resource and control numbers of the gateway's "Network side" group,
   shared by server/gateway_page.rc and the code. Only preprocessor
   definitions, so the resource compiler reads this header too. The serial
   part above it is the serial page with its own ids (1001 the port ...
   1011 the response time-out). */
#pragma once

#define IDD_GATEWAY_NETWORK 103

#define IDC_GATEWAY_ADDRESS 1021 /* bind address, IP address control */
#define IDC_GATEWAY_PORT 1022
