#include "shell/information_view.h"

#include "shell/documents.h"
#include "shell/resources/resource_ids.h"

void InformationView::Load(HINSTANCE resources) {
  LoadDocument(resources, IDR_README, &readme_);
  LoadDocument(resources, IDR_LICENSE, &license_);
}

void InformationView::Show(HWND box, int32_t tabIndex) const { ShowDocument(box, tabIndex == 1 ? license_ : readme_); }
