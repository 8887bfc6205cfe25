/* Resource and control numbers of the "Faults" group of the fault-injecting
   slaves, shared by server/fault_page.rc and the code. Only preprocessor
   definitions, so the resource compiler reads this header too. */
#pragma once

#define IDD_FAULTS_PAGE 101

/* The rates, in the order of FaultKind (no answer first). */
#define IDC_FAULT_FIRST_RATE 1301
#define IDC_FAULT_DROP 1301
#define IDC_FAULT_LATE 1302
#define IDC_FAULT_EXCEPTION 1303
#define IDC_FAULT_DAMAGE 1304
#define IDC_FAULT_OTHER 1305
#define IDC_FAULT_SPLIT 1306
#define IDC_FAULT_CLOSE 1307 /* TCP only */
#define IDC_FAULT_DELAY 1310
#define IDC_FAULT_CODE 1311

/* What a plug-in's .rc file defines before it includes server/fault_page.rc. */
#define FAULT_PAGE_RTU 0
#define FAULT_PAGE_TCP 1
