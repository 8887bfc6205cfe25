// The view extras of a plug-in instance on Windows: its tip rotation and
// its connection indicator; a typed value the view refuses sounds as a
// refused keystroke does.
#include "common/memory.h"
#include "common/ui/refusal_beep.h"
#include "view/value_type.h"
#include "view/view_helpers.h"

namespace {

struct ViewExtras {
  TipRotation tips;
  ConnectionIndicator indicator;
};

ViewExtras* Extras(void* extras) { return static_cast<ViewExtras*>(extras); }

void* CreateExtras() {
  SetInputRefusedHook(ui::RefusalBeep);
  return mem::New<ViewExtras>();
}
void ReleaseExtras(void* extras) { mem::Delete(Extras(extras)); }

int32_t GetTip(void* extras, uint32_t seed, Unit* buffer, uint32_t capacity) {
  return LoadTip(Extras(extras)->tips, seed, buffer, capacity);
}

int32_t GetNextTip(void* extras, Unit* buffer, uint32_t capacity) {
  return LoadNextTip(Extras(extras)->tips, buffer, capacity);
}

void ShowIndicator(void* extras, PluginWindow iconWindow, int32_t connected) {
  Extras(extras)->indicator.Show(reinterpret_cast<HWND>(iconWindow), connected != 0);
}

}  // namespace

const ViewExtrasOps kViewExtras = {
    /* create */ &CreateExtras,
    /* release */ &ReleaseExtras,
    /* getTip */ &GetTip,
    /* getNextTip */ &GetNextTip,
    /* showConnectionIndicator */ &ShowIndicator,
};
