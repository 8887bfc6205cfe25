#include "shell/documents.h"

#include <windows.h>

namespace {

const uint8_t kByteOrderMark[] = {0xEF, 0xBB, 0xBF};

DocumentStatus Fail(DocumentStatus status, TextBuffer* text) {
  text->Assign(DocumentErrorText(status));
  return status;
}

}  // namespace

const Unit* DocumentErrorText(DocumentStatus status) {
  switch (status) {
    case kDocumentMissing:
      return u"This document has not been embedded in the application resources yet.";
    case kDocumentUnloadable:
      return u"The embedded document resource could not be loaded.";
    case kDocumentNotUtf8:
      return u"The embedded document is not valid UTF-8.";
    case kDocumentUndecodable:
      return u"The embedded document could not be decoded.";
    default:
      return u"";
  }
}

DocumentStatus LoadDocument(HINSTANCE module, uint16_t id, TextBuffer* text) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (!found) return Fail(kDocumentMissing, text);
  HGLOBAL loaded = LoadResource(module, found);
  const uint8_t* bytes = loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
  DWORD size = SizeofResource(module, found);
  if (!bytes || size == 0) return Fail(kDocumentUnloadable, text);
  if (size > 2 && bytes[0] == kByteOrderMark[0] && bytes[1] == kByteOrderMark[1] && bytes[2] == kByteOrderMark[2]) {
    bytes += 3;
    size -= 3;
  }
  // Strict conversion: any invalid sequence fails the whole document, so a
  // partly decoded text is never shown. A size beyond int cannot be measured.
  if (size > 0x7FFFFFFF) return Fail(kDocumentNotUtf8, text);
  const char* utf8 = reinterpret_cast<const char*>(bytes);
  const int measured = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, static_cast<int>(size), nullptr, 0);
  if (measured <= 0 || !text->Resize(measured)) return Fail(kDocumentNotUtf8, text);
  // The buffer was sized to the measured length; the conversion fills it in
  // place and the terminating NUL stays where Resize put it.
  wchar_t* target = reinterpret_cast<wchar_t*>(const_cast<Unit*>(text->Storage()));
  const int converted = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, static_cast<int>(size), target, measured);
  if (converted != measured) return Fail(kDocumentUndecodable, text);
  return kDocumentLoaded;
}

void ShowDocument(HWND box, const TextBuffer& text) {
  SetWindowTextW(box, reinterpret_cast<const wchar_t*>(text.Text()));
  SendMessageW(box, EM_SETSEL, 0, 0);
  SendMessageW(box, EM_SCROLLCARET, 0, 0);
}
