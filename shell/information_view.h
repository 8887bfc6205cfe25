#pragma once
// The information view of state 0: the document box shows the Readme or, on
// the second tab, the License.

#include <stdint.h>

class MainWindow;

// Loads the documents once (initialisation).
void InformationViewLoad(MainWindow& window);
// Shows the document of tab index (0 Readme, 1 License) in the document box.
void InformationViewShow(MainWindow& window, int32_t tabIndex);
