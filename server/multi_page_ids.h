/* Resource and control numbers of the "Masters" group of the several-masters
   slave, shared by server/multi_page.rc and the code. Only preprocessor
   definitions, so the resource compiler reads this header too. */
#pragma once

#define IDD_MASTERS_PAGE 102

/* Seconds a master may stay silent before its connection is closed (0: never). */
#define IDC_MASTERS_IDLE 1005
