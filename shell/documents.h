#pragma once
// The embedded documents: UTF-8 raw-data resources decoded strictly into
// UTF-16. A document that cannot be shown is replaced by a sentence that
// says why, so the document box always has something to show.

#include <stdint.h>

#include "common/text.h"

struct HINSTANCE__;
struct HWND__;

enum DocumentStatus : int32_t {
  kDocumentLoaded = 0,
  kDocumentMissing = 1,     // no raw-data resource with that number
  kDocumentUnloadable = 2,  // it cannot be loaded, or it is empty
  kDocumentNotUtf8 = 3,     // invalid UTF-8, or no text to size the buffer for
  kDocumentUndecodable = 4, // the conversion gave another length than measured
};

// The sentence shown instead of a document that failed with status.
const Unit* DocumentErrorText(DocumentStatus status);

// Loads raw-data resource id of module into text. On failure text holds the
// failure's sentence. Returns kDocumentLoaded or the failure.
DocumentStatus LoadDocument(HINSTANCE__* module, uint16_t id, TextBuffer* text);

// Puts text into a multi-line edit control and shows it from its top.
void ShowDocument(HWND__* box, const TextBuffer& text);
