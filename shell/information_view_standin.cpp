// The information view until its documents are embedded: the document box
// stays empty.
#include "shell/information_view.h"

void InformationViewLoad(MainWindow&) {}

void InformationViewShow(MainWindow&, int32_t) {}
