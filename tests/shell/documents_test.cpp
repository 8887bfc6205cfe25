// The document loader against a resource-only library, one case per raw-data
// resource; showing a document in an edit control; and the two documents that
// velmora.exe embeds: the Readme lists exactly the twelve plug-ins' display
// names, every heading is underlined, and the License is MIT's.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/plugin_interface.h"
#include "shell/documents.h"
#include "shell/resources/resource_ids.h"
#include "support/ui_automation.h"

namespace {

using uiauto::ExeFolder;

HMODULE LoadResources(const std::wstring& path) {
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
}

std::wstring W(const TextBuffer& text) { return reinterpret_cast<const wchar_t*>(text.Text()); }

constexpr int kBigLines = 700;
const wchar_t kBigLine[] = L"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ\r\n";

TEST(DocumentLoader, Cases) {
  HMODULE module = LoadResources(ExeFolder() + L"document_resources.dll");
  ASSERT_NE(module, nullptr);
  std::wstring big;
  for (int i = 0; i < kBigLines; ++i) big += kBigLine;
  const std::wstring notUtf8 = L"The embedded document is not valid UTF-8.";
  struct Case {
    uint16_t id;
    DocumentStatus status;
    std::wstring text;
  };
  const Case cases[] = {
      {700, kDocumentMissing, L"This document has not been embedded in the application resources yet."},
      {707, kDocumentMissing, L"This document has not been embedded in the application resources yet."},
      {701, kDocumentUnloadable, L"The embedded document resource could not be loaded."},
      {702, kDocumentNotUtf8, notUtf8},  // the byte order mark alone
      {703, kDocumentNotUtf8, notUtf8},  // never a partly decoded text
      {704, kDocumentLoaded, L"Hello\r\nWorld"},
      {705, kDocumentLoaded, L"Gr\u00FC\u00DFe \U0001F600"},
      {706, kDocumentLoaded, big},
      {708, kDocumentNotUtf8, notUtf8},  // an overlong form
      {709, kDocumentNotUtf8, notUtf8},  // an encoded surrogate
      {710, kDocumentNotUtf8, notUtf8},  // a sequence cut short at the end
      {711, kDocumentNotUtf8, notUtf8},  // two bytes of a byte order mark are no mark
      {712, kDocumentNotUtf8, notUtf8},  // a mark followed by an invalid byte
  };
  for (const Case& c : cases) {
    TextBuffer text;
    text.Assign(u"previous");
    EXPECT_EQ(LoadDocument(module, c.id, &text), c.status) << c.id;
    EXPECT_TRUE(W(text) == c.text) << c.id << ": " << W(text).substr(0, 80).c_str();
  }
  FreeLibrary(module);
}

// A document longer than an edit control's default limit is shown whole, and
// showing one after scrolling starts at its top.
TEST(DocumentLoader, ShownWholeFromTheTop) {
  HMODULE module = LoadResources(ExeFolder() + L"document_resources.dll");
  ASSERT_NE(module, nullptr);
  TextBuffer big, small;
  ASSERT_EQ(LoadDocument(module, 706, &big), kDocumentLoaded);
  ASSERT_EQ(LoadDocument(module, 704, &small), kDocumentLoaded);
  ASSERT_GT(big.Length(), 32767);
  HWND box = CreateWindowExW(0, L"EDIT", L"", WS_POPUP | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL, 0, 0,
                             300, 200, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(box, nullptr);
  SendMessageW(box, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
  ShowDocument(box, big);
  EXPECT_EQ(GetWindowTextLengthW(box), big.Length());
  EXPECT_EQ(SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
  SendMessageW(box, EM_LINESCROLL, 0, 300);
  EXPECT_GT(SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
  ShowDocument(box, big);
  EXPECT_EQ(SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
  ShowDocument(box, small);
  EXPECT_EQ(GetWindowTextLengthW(box), small.Length());
  DestroyWindow(box);
  FreeLibrary(module);
}

std::vector<std::wstring> Lines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  size_t start = 0;
  for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

// The display names of the deliverables' descriptors: the twelve and the
// plug-ins after them.
const wchar_t* const kDisplayNames[] = {
    L"Modbus RTU Master",           L"Modbus RTU Slave",           L"Modbus ASCII Master",
    L"Modbus ASCII Slave",          L"Modbus TCP/IP Master",       L"Modbus TCP/IP Slave",
    L"Modbus RTU over TCP/IP Master", L"Modbus RTU over TCP/IP Slave", L"Modbus UDP/IP Master",
    L"Modbus UDP/IP Slave",         L"Modbus RTU over UDP/IP Master", L"Modbus RTU over UDP/IP Slave",
    L"Modbus TCP/IP Slave (fault injection)", L"Modbus RTU Slave (fault injection)",
    L"Modbus RTU Bus Monitor",
    L"Modbus TCP/IP to RTU Gateway",          L"Modbus TCP/IP Slave (several masters)",
};

// The display names of the plug-ins built beside the program, as many as
// are built.
std::vector<std::wstring> BuiltDisplayNames() {
  std::vector<std::wstring> names;
  const std::wstring folder = ExeFolder() + L"..\\dist\\plugins\\";
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + L"*.dll").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    HMODULE library = LoadLibraryW((folder + entry.cFileName).c_str());
    if (!library) continue;
    auto get = reinterpret_cast<const PluginDescriptor* (*)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "GetPluginDescriptor")));
    const PluginDescriptor* descriptor = get ? get() : nullptr;
    if (descriptor && descriptor->displayName) {
      names.push_back(reinterpret_cast<const wchar_t*>(descriptor->displayName));
    }
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return names;
}

TEST(EmbeddedDocuments, ReadmeAndLicense) {
  HMODULE program = LoadResources(ExeFolder() + L"..\\dist\\velmora.exe");
  ASSERT_NE(program, nullptr);
  TextBuffer readmeText, licenseText;
  ASSERT_EQ(LoadDocument(program, IDR_README, &readmeText), kDocumentLoaded);
  ASSERT_EQ(LoadDocument(program, IDR_LICENSE, &licenseText), kDocumentLoaded);
  FreeLibrary(program);
  const std::wstring readme = W(readmeText), license = W(licenseText);
  for (const std::wstring* text : {&readme, &license}) {
    for (size_t i = 0; i < text->size(); ++i) {
      if ((*text)[i] == L'\n') {
        ASSERT_TRUE(i > 0 && (*text)[i - 1] == L'\r') << "a bare line feed at " << i;
      }
    }
  }

  // The sections in their order, each underlined by hyphens as long as it.
  const std::vector<std::wstring> lines = Lines(readme);
  EXPECT_NE(lines[0].find(L"Velmora Tools"), std::wstring::npos);
  EXPECT_NE(lines[0].find(L"0.7.1"), std::wstring::npos);
  std::vector<std::wstring> headings;
  for (size_t i = 1; i < lines.size(); ++i) {
    if (!lines[i].empty() && lines[i].find_first_not_of(L'-') == std::wstring::npos) {
      EXPECT_EQ(lines[i].size(), lines[i - 1].size()) << lines[i - 1].c_str();
      headings.push_back(lines[i - 1]);
    }
  }
  ASSERT_GE(headings.size(), 7u);
  EXPECT_EQ(std::vector<std::wstring>(headings.begin(), headings.begin() + 7),
            (std::vector<std::wstring>{L"Package layout", L"Ready plugins", L"How it works", L"Quick start",
                                       L"Current scope", L"Notes", L"Reporting problems"}));
  EXPECT_EQ(headings.size(), 8u) << "two closing sections";

  // Ready plugins: one "- Name: file" line each.
  std::vector<std::wstring> listed;
  size_t at = std::find(lines.begin(), lines.end(), L"Ready plugins") - lines.begin();
  for (size_t i = at + 2; i < lines.size() && lines[i + 1].find(L"---") != 0; ++i) {
    if (lines[i].rfind(L"- ", 0) == 0) listed.push_back(lines[i].substr(2, lines[i].find(L':') - 2));
  }
  std::vector<std::wstring> expected(std::begin(kDisplayNames), std::end(kDisplayNames));
  std::sort(listed.begin(), listed.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);
  // Every plug-in built so far is listed under its descriptor's name.
  for (const std::wstring& name : BuiltDisplayNames()) {
    EXPECT_TRUE(std::binary_search(listed.begin(), listed.end(), name)) << name.c_str();
  }

  // Five quick-start steps; the functions in scope; the last words point to
  // the License tab.
  int steps = 0;
  for (const std::wstring& line : lines) {
    if (line.size() > 3 && line[0] >= L'1' && line[0] <= L'9' && line[1] == L'.' && line[2] == L' ') ++steps;
  }
  EXPECT_EQ(steps, 5);
  EXPECT_NE(readme.find(L"Functions 1, 2, 3, 4"), std::wstring::npos);
  EXPECT_NE(readme.substr(readme.size() - 80).find(L"License tab"), std::wstring::npos);

  EXPECT_EQ(license.rfind(L"MIT License\r\n\r\nCopyright (c) 2026 Velmora Tools\r\n", 0), 0u);
  EXPECT_NE(license.find(L"THE SOFTWARE IS PROVIDED \"AS IS\""), std::wstring::npos);
}

}  // namespace
