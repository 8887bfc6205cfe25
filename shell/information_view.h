#pragma once
// The information view of state 0: the document box shows the Readme or, on
// the second tab, the License.

#include <windows.h>

#include <stdint.h>

#include "common/text.h"

class InformationView {
 public:
  // Loads the documents once (initialisation) from the program's resources.
  void Load(HINSTANCE resources);
  // Shows the document of tab index (0 Readme, 1 License) in the box.
  void Show(HWND box, int32_t tabIndex) const;

 private:
  // The decoded documents.
  TextBuffer readme_;
  TextBuffer license_;
};
