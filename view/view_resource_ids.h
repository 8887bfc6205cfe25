/* Resource numbers of the view helpers, shared by every plug-in's .rc file
   and the code. Only preprocessor definitions, so the resource compiler
   reads this header too. */
#pragma once

/* Tips: string resources from here upwards, one per tip, without gaps. */
#define IDS_TIP_FIRST 2000
