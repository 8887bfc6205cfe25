// Tips and the connection indicator of a client instance.
#include "client/client_windows.h"
#include "common/memory.h"
#include "view/view_helpers.h"

namespace {

struct ClientExtras {
  TipRotation tips;
  ConnectionIndicator indicator;
};

ClientExtras* Extras(void* extras) { return static_cast<ClientExtras*>(extras); }

void* CreateExtras() { return mem::New<ClientExtras>(); }
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

const ClientViewExtrasOps kClientViewExtras = {
    /* create */ &CreateExtras,
    /* release */ &ReleaseExtras,
    /* getTip */ &GetTip,
    /* getNextTip */ &GetNextTip,
    /* showConnectionIndicator */ &ShowIndicator,
};
