#include "shell/information_view.h"

#include "common/app_context.h"
#include "shell/documents.h"
#include "shell/main_window.h"
#include "shell/resources/resource_ids.h"

void InformationViewLoad(MainWindow& window) {
  HINSTANCE resources = static_cast<HINSTANCE>(CurrentAppContext()->resourceInstance);
  LoadDocument(resources, IDR_README, &window.readme);
  LoadDocument(resources, IDR_LICENSE, &window.license);
}

void InformationViewShow(MainWindow& window, int32_t tabIndex) {
  ShowDocument(window.Control(IDC_DOCUMENT), tabIndex == 1 ? window.license : window.readme);
}
