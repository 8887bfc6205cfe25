#pragma once
// The binary interface between the shell and the protocol plug-ins. The two
// sides are built separately, so every record below has a fixed layout on a
// 64-bit little-endian platform (8-byte pointers, NUL-terminated UTF-16
// text); the assertions at the end keep the layout from drifting.
//
// A plug-in library exports two functions:
//   const PluginDescriptor* GetPluginDescriptor(void);
//   int32_t CreatePlugin(uint32_t version, PluginOps* table);
// CreatePlugin returns 0 without touching the table when version is not
// kPluginInterfaceVersion or table is null; otherwise it creates one
// instance, fills the table and returns nonzero.
//
// Threads: every PluginOps entry is called on the shell's user-interface
// thread. HostLink::send may be called only on that thread; HostLink::post
// from any thread.

#include <stddef.h>
#include <stdint.h>

#include "common/text.h"

// Window handles cross the interface as the Win32 HWND (STRICT handles are
// pointers to this incomplete type), so both sides agree without windows.h.
struct HWND__;
using PluginWindow = HWND__*;

constexpr uint32_t kPluginInterfaceVersion = 11;

constexpr char kGetPluginDescriptorExport[] = "GetPluginDescriptor";
constexpr char kCreatePluginExport[] = "CreatePlugin";

#if defined(_WIN32)
#define VELMORA_PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#define VELMORA_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// --- descriptor -------------------------------------------------------------

// Static, owned by the plug-in, valid while its library is loaded. The shell
// requires size >= kPluginDescriptorSize and non-empty id, displayName and
// viewTitle.
struct PluginDescriptor {
  uint32_t size;              // plug-ins set kPluginDescriptorSize
  uint32_t interfaceVersion;  // kPluginInterfaceVersion
  const Unit* id;             // unique, such as u"linebin-client"
  const Unit* displayName;    // the connection setup list's text
  const Unit* viewTitle;      // the main view's group frame while active
  uint32_t order;             // ascending sort key of the setup list
  uint32_t reserved;          // 0
};

constexpr uint32_t kPluginDescriptorSize = 40;

// --- records passed through the operations ----------------------------------

enum class HostCommandKind : uint32_t {
  SetLabel = 0,          // index, text
  SetFieldText = 1,      // index, text
  ShowField = 2,         // index, value (nonzero: visible)
  ClearChoices = 3,      //
  AddChoice = 4,         // text, index (item data)
  SelectChoice = 5,      // index (item data)
  AddTab = 6,            // text, value (tab key)
  RemoveTab = 7,         // value (tab key)
  EnableAddRemove = 8,   // index: bits 0-15 add, bits 16-31 remove
  SetTableShape = 9,     // index (rows), value (columns)
  SetColumnTitle = 10,   // index, text
  RefreshTable = 11,     //
  FitColumns = 12,       //
  ShowTxFrame = 13,      // data, length
  ShowRxFrame = 14,      // data, length
  ShowRxText = 15,       // text (null: "RX: -"), index (nonzero: error colour)
  ShowError = 16,        // text, caption
  SetFieldFormat = 17,   // index, data (a FieldFormat), length (exactly 40)
  // Beyond the twelve plug-ins' set: the shell reads getProtocolLine and
  // getConnectionLine again and shows what changed (a live count, say).
  // A shell that predates it ignores it.
  RefreshHeaderLines = 18,
};

// Built by the plug-in, usually on its stack. Field indexes 0 to 3 name the
// four entry fields of the main view from top to bottom.
struct HostCommand {
  HostCommandKind kind;
  uint32_t padding0;
  uint64_t index;     // field index, row count, item data or flag pair
  uint64_t value;     // tab key, column count or visibility flag
  const Unit* text;
  const Unit* caption;
  const void* data;   // frame bytes or a FieldFormat
  uint32_t length;    // bytes at data
  uint32_t padding1;
  uintptr_t stamp;    // written by the shell; the plug-in leaves it 0
};

enum class ViewEventKind : uint32_t {
  Connect = 0,          // result nonzero: the connection is up
  Disconnect = 1,
  FieldEdited = 2,      // arg = field index, text = its content
  ChoiceSelected = 3,   // arg = item data
  AddRequested = 4,
  RemoveRequested = 5,  // tab key = selected tab
  TabSelected = 6,      // tab key = selected tab or 0
  GetCellText = 7,      // arg = cell; the plug-in fills buffer; result 0 or kCellTextNotCurrent
  BeginCellEdit = 8,    // arg = row and flag; result nonzero allows the edit
  EndCellEdit = 9,      // arg = row and flag, text = the edited text
  GetCellEditor = 10,   // arg = row and flag; result = editor mode, buffer = initial text
  ColumnClicked = 11,   // arg = column
  // Beyond the twelve plug-ins' set: the table's context menu. The shell
  // asks for item after item (arg = index; the plug-in writes the text into
  // buffer and answers its flags, 0 past the last item: 1 an item, 2 checked,
  // 4 disabled, 8 a separator), shows them and delivers the chosen index.
  // A plug-in that predates them answers 0: no menu.
  GetMenuItem = 12,     // arg = item index; result = flags, buffer = text
  MenuItemChosen = 13,  // arg = item index
};

// The flags a GetMenuItem answer combines; 0 ends the menu.
constexpr int64_t kMenuItemPresent = 1;
constexpr int64_t kMenuItemChecked = 2;
constexpr int64_t kMenuItemDisabled = 4;
constexpr int64_t kMenuItemSeparator = 8;

// Built by the shell, valid only during the handleEvent call.
struct ViewEvent {
  ViewEventKind kind;
  uint32_t padding;
  uint64_t arg;
  uintptr_t tabKey;   // as the plug-in gave it in AddTab; never dereferenced by the shell
  const Unit* text;   // supplied by the shell
  Unit* buffer;       // filled by the plug-in
  uint64_t capacity;  // units at buffer, terminating NUL included
};

// GetCellText's result for a value that did not come from the device for
// the request the table now stands for (the shell draws it greyed, as
// disabled text); 0 for every other cell. A shell that predates it ignores
// it.
constexpr int64_t kCellTextNotCurrent = 1;

// Cell events carry the row in bits 0-15 and the column in bits 16-31; edit
// events carry the row and, in bit 16, whether the edit comes from the
// shell's double-click path.
constexpr uint32_t CellRow(uint64_t arg) { return static_cast<uint32_t>(arg & 0xFFFFu); }
constexpr uint32_t CellColumn(uint64_t arg) { return static_cast<uint32_t>((arg >> 16) & 0xFFFFu); }
constexpr uint64_t kCellEditFromDoubleClick = 1u << 16;

// Numeric formats of the entry fields and, with 0 for unrestricted, the
// editor modes of GetCellEditor.
enum FieldFormatMode : uint8_t {
  kFieldUnrestricted = 0,
  kFieldUnsignedDecimal = 1,
  kFieldSignedDecimal = 2,
  kFieldHexadecimal = 3,
  kFieldBinary = 4,
};

// Carried by SetFieldFormat. A mode outside 1 to 4 means no format.
struct FieldFormat {
  uint8_t mode;
  uint8_t padding0[3];
  uint32_t hasRange;   // nonzero: clamp to [min, max]
  int64_t min;
  int64_t max;
  int32_t digits;      // 0: none; else zero-padding and typing limit for hex and binary
  uint32_t padding1;
  const Unit* suffix;  // unit text shown while unfocused, such as u" ms"; may be null
};

// --- the traffic log --------------------------------------------------------

// Beyond the twelve plug-ins' set: every frame a plug-in sends or accepts,
// and every failure of an exchange, for the shell's traffic log. Built by
// the plug-in on its stack and handed to HostLink::logFrame on the thread
// that sent or accepted the bytes; the shell copies what it keeps before
// logFrame returns.
enum TrafficDirection : uint8_t {
  kTrafficTx = 0,
  kTrafficRx = 1,
};

// How the bytes are framed, so that the shell can read them again.
enum TrafficFraming : uint8_t {
  kTrafficRtu = 0,    // slave ID, PDU, CRC (also RTU over TCP and UDP)
  kTrafficAscii = 1,  // ':' ... LRC CR LF, the characters as sent
  kTrafficMbap = 2,   // MBAP header, PDU
};

// Which side the plug-in plays: a master's TX is a request, a slave's an
// answer.
enum TrafficRole : uint8_t {
  kTrafficMaster = 0,
  kTrafficSlave = 1,
};

// What a row is: the bytes of a frame, a failure (a time-out, a CRC error,
// a dropped connection, a fault injected; shown in the error colour), or
// something that happened without fault (a client closing its connection).
enum TrafficRowKind : uint8_t {
  kTrafficFrameRow = 0,
  kTrafficFailureRow = 1,
  kTrafficNoticeRow = 2,
};

struct TrafficFrame {
  uint32_t size;       // kTrafficFrameSize
  uint32_t tick;       // plat::Tick() when the bytes went out or were accepted
  uint8_t direction;   // TrafficDirection
  uint8_t framing;     // TrafficFraming
  uint8_t role;        // TrafficRole
  uint8_t failure;     // TrafficRowKind: a frame, or a row whose text names what happened
  uint32_t length;     // bytes at bytes; a failure row may carry the frame it concerns
  const uint8_t* bytes;
  const Unit* text;    // failure rows: u"Timeout"; null otherwise
  uint32_t peerAddress;  // IPv4 address of the peer (host order), 0 when there is only one
  uint16_t peerPort;
  uint16_t padding;
};

constexpr uint32_t kTrafficFrameSize = 40;

// --- the host link ----------------------------------------------------------

// Owned by the shell, handed to attach and valid until the matching detach.
struct HostLink {
  uint32_t size;     // kHostLinkSize; kHostLinkMinimumSize from a shell without the traffic log
  uint32_t version;  // kPluginInterfaceVersion
  void* host;        // first argument of send and post
  // Handles the command before returning; always returns 0.
  int64_t (*send)(void* host, const HostCommand* command);
  // Copies the command with its text, caption and data bytes; the shell
  // handles the copy later on its user-interface thread, in posting order.
  void (*post)(void* host, const HostCommand* command);
  // Optional, beyond the twelve plug-ins' set (see HostLinkLogsTraffic):
  // takes one frame for the traffic log. Any thread; it never blocks for
  // long and never sends a window message per frame. A plug-in that
  // predates it never calls it: the log shows nothing of it.
  void (*logFrame)(void* host, const TrafficFrame* frame);
};

constexpr uint32_t kHostLinkMinimumSize = 32;  // through post
constexpr uint32_t kHostLinkSize = 40;         // every entry

// Whether the shell keeps a traffic log. An older shell hands a link of
// kHostLinkMinimumSize: the plug-in then logs nothing.
inline bool HostLinkLogsTraffic(const HostLink* link) {
  return link && link->size >= kHostLinkSize && link->logFrame;
}

// --- the operations table ---------------------------------------------------

// Owned by the shell, filled by CreatePlugin. The entries up to destroy are
// required; an optional entry is called only when size covers it and it is
// non-null (see PluginOpsCovers).
struct PluginOps {
  uint32_t size;
  uint32_t version;
  void* instance;  // first argument of every entry

  int32_t (*attach)(void* instance, const HostLink* link);  // result ignored
  // Must end a running connection: the shell delivers no Disconnect first.
  void (*detach)(void* instance);
  PluginWindow (*createSettingsPage)(void* instance, PluginWindow parent);  // a child page or null
  int32_t (*applySettings)(void* instance);                                 // result ignored
  int64_t (*handleEvent)(void* instance, const ViewEvent* event);
  void (*destroy)(void* instance);

  // Nonzero when the buffer (kPluginLineCapacity units) holds a text.
  int32_t (*getProtocolLine)(void* instance, Unit* buffer, uint32_t capacity);
  int32_t (*getConnectionLine)(void* instance, Unit* buffer, uint32_t capacity);
  void (*showConnectionIndicator)(void* instance, PluginWindow iconWindow, int32_t connected);
  // Nonzero when a tip was written (kPluginTipCapacity units).
  int32_t (*getTip)(void* instance, uint32_t seed, Unit* buffer, uint32_t capacity);
  int32_t (*getNextTip)(void* instance, Unit* buffer, uint32_t capacity);
};

constexpr uint32_t kPluginOpsMinimumSize = 64;  // through destroy
constexpr uint32_t kPluginOpsSize = 104;        // every entry
constexpr uint32_t kPluginLineCapacity = 256;
constexpr uint32_t kPluginTipCapacity = 512;

// Whether a table of this size holds the entry at entryOffset.
constexpr bool PluginOpsCovers(uint32_t tableSize, size_t entryOffset) {
  return tableSize >= entryOffset + sizeof(void*);
}

// --- entry points -----------------------------------------------------------

using GetPluginDescriptorProc = const PluginDescriptor* (*)();
using CreatePluginProc = int32_t (*)(uint32_t version, PluginOps* table);

// --- the layout contract ----------------------------------------------------

static_assert(sizeof(Unit) == 2, "interface text is UTF-16");
static_assert(sizeof(void*) == 8, "the interface is defined for 64-bit targets");

static_assert(sizeof(PluginDescriptor) == kPluginDescriptorSize, "PluginDescriptor size");
static_assert(offsetof(PluginDescriptor, size) == 0, "PluginDescriptor::size");
static_assert(offsetof(PluginDescriptor, interfaceVersion) == 4, "PluginDescriptor::interfaceVersion");
static_assert(offsetof(PluginDescriptor, id) == 8, "PluginDescriptor::id");
static_assert(offsetof(PluginDescriptor, displayName) == 16, "PluginDescriptor::displayName");
static_assert(offsetof(PluginDescriptor, viewTitle) == 24, "PluginDescriptor::viewTitle");
static_assert(offsetof(PluginDescriptor, order) == 32, "PluginDescriptor::order");
static_assert(offsetof(PluginDescriptor, reserved) == 36, "PluginDescriptor::reserved");
static_assert(sizeof(PluginDescriptor::size) == 4 && sizeof(PluginDescriptor::interfaceVersion) == 4 &&
                  sizeof(PluginDescriptor::order) == 4 && sizeof(PluginDescriptor::reserved) == 4,
              "PluginDescriptor's numbers are u32");

static_assert(sizeof(PluginOps) == kPluginOpsSize, "PluginOps size");
static_assert(offsetof(PluginOps, size) == 0, "PluginOps::size");
static_assert(offsetof(PluginOps, version) == 4, "PluginOps::version");
static_assert(offsetof(PluginOps, instance) == 8, "PluginOps::instance");
static_assert(offsetof(PluginOps, attach) == 16, "PluginOps::attach");
static_assert(offsetof(PluginOps, detach) == 24, "PluginOps::detach");
static_assert(offsetof(PluginOps, createSettingsPage) == 32, "PluginOps::createSettingsPage");
static_assert(offsetof(PluginOps, applySettings) == 40, "PluginOps::applySettings");
static_assert(offsetof(PluginOps, handleEvent) == 48, "PluginOps::handleEvent");
static_assert(offsetof(PluginOps, destroy) == 56, "PluginOps::destroy");
static_assert(offsetof(PluginOps, getProtocolLine) == 64, "PluginOps::getProtocolLine");
static_assert(offsetof(PluginOps, getConnectionLine) == 72, "PluginOps::getConnectionLine");
static_assert(offsetof(PluginOps, showConnectionIndicator) == 80, "PluginOps::showConnectionIndicator");
static_assert(offsetof(PluginOps, getTip) == 88, "PluginOps::getTip");
static_assert(offsetof(PluginOps, getNextTip) == 96, "PluginOps::getNextTip");
static_assert(sizeof(PluginOps::size) == 4 && sizeof(PluginOps::version) == 4, "PluginOps's numbers are u32");
static_assert(PluginOpsCovers(kPluginOpsMinimumSize, offsetof(PluginOps, destroy)), "required entries");
static_assert(!PluginOpsCovers(kPluginOpsMinimumSize, offsetof(PluginOps, getProtocolLine)), "optional entries");

static_assert(sizeof(HostLink) == kHostLinkSize, "HostLink size");
static_assert(offsetof(HostLink, size) == 0, "HostLink::size");
static_assert(offsetof(HostLink, version) == 4, "HostLink::version");
static_assert(offsetof(HostLink, host) == 8, "HostLink::host");
static_assert(offsetof(HostLink, send) == 16, "HostLink::send");
static_assert(offsetof(HostLink, post) == 24, "HostLink::post");
static_assert(sizeof(HostLink::size) == 4 && sizeof(HostLink::version) == 4, "HostLink's numbers are u32");
static_assert(offsetof(HostLink, logFrame) == kHostLinkMinimumSize, "HostLink::logFrame follows post");

static_assert(sizeof(TrafficFrame) == kTrafficFrameSize, "TrafficFrame size");
static_assert(offsetof(TrafficFrame, tick) == 4, "TrafficFrame::tick");
static_assert(offsetof(TrafficFrame, direction) == 8 && offsetof(TrafficFrame, framing) == 9 &&
                  offsetof(TrafficFrame, role) == 10 && offsetof(TrafficFrame, failure) == 11,
              "TrafficFrame's kind bytes");
static_assert(offsetof(TrafficFrame, length) == 12, "TrafficFrame::length");
static_assert(offsetof(TrafficFrame, bytes) == 16, "TrafficFrame::bytes");
static_assert(offsetof(TrafficFrame, text) == 24, "TrafficFrame::text");
static_assert(offsetof(TrafficFrame, peerAddress) == 32, "TrafficFrame::peerAddress");
static_assert(offsetof(TrafficFrame, peerPort) == 36 && offsetof(TrafficFrame, padding) == 38, "TrafficFrame::peerPort");

static_assert(sizeof(HostCommandKind) == 4, "HostCommand::kind is a u32");
static_assert(sizeof(HostCommand) == 64, "HostCommand size");
static_assert(offsetof(HostCommand, kind) == 0, "HostCommand::kind");
static_assert(offsetof(HostCommand, index) == 8, "HostCommand::index");
static_assert(offsetof(HostCommand, value) == 16, "HostCommand::value");
static_assert(offsetof(HostCommand, text) == 24, "HostCommand::text");
static_assert(offsetof(HostCommand, caption) == 32, "HostCommand::caption");
static_assert(offsetof(HostCommand, data) == 40, "HostCommand::data");
static_assert(offsetof(HostCommand, length) == 48, "HostCommand::length");
static_assert(offsetof(HostCommand, stamp) == 56, "HostCommand::stamp");
static_assert(sizeof(HostCommand::stamp) == sizeof(void*), "HostCommand::stamp is pointer-sized");
static_assert(offsetof(HostCommand, padding0) == 4 && sizeof(HostCommand::padding0) == 4, "HostCommand padding");
static_assert(offsetof(HostCommand, padding1) == 52 && sizeof(HostCommand::padding1) == 4, "HostCommand padding");
static_assert(sizeof(HostCommand::index) == 8 && sizeof(HostCommand::value) == 8, "HostCommand::index, value are u64");
static_assert(sizeof(HostCommand::length) == 4, "HostCommand::length is a u32");

static_assert(sizeof(ViewEventKind) == 4, "ViewEvent::kind is a u32");
static_assert(sizeof(ViewEvent) == 48, "ViewEvent size");
static_assert(offsetof(ViewEvent, kind) == 0, "ViewEvent::kind");
static_assert(offsetof(ViewEvent, arg) == 8, "ViewEvent::arg");
static_assert(offsetof(ViewEvent, tabKey) == 16, "ViewEvent::tabKey");
static_assert(offsetof(ViewEvent, text) == 24, "ViewEvent::text");
static_assert(offsetof(ViewEvent, buffer) == 32, "ViewEvent::buffer");
static_assert(offsetof(ViewEvent, capacity) == 40, "ViewEvent::capacity");
static_assert(sizeof(ViewEvent::tabKey) == sizeof(void*), "ViewEvent::tabKey is pointer-sized");
static_assert(offsetof(ViewEvent, padding) == 4 && sizeof(ViewEvent::padding) == 4, "ViewEvent padding");
static_assert(sizeof(ViewEvent::arg) == 8 && sizeof(ViewEvent::capacity) == 8, "ViewEvent::arg, capacity are u64");

static_assert(sizeof(FieldFormat) == 40, "FieldFormat size");
static_assert(offsetof(FieldFormat, mode) == 0, "FieldFormat::mode");
static_assert(offsetof(FieldFormat, hasRange) == 4, "FieldFormat::hasRange");
static_assert(offsetof(FieldFormat, min) == 8, "FieldFormat::min");
static_assert(offsetof(FieldFormat, max) == 16, "FieldFormat::max");
static_assert(offsetof(FieldFormat, digits) == 24, "FieldFormat::digits");
static_assert(offsetof(FieldFormat, suffix) == 32, "FieldFormat::suffix");
static_assert(sizeof(FieldFormat::mode) == 1 && offsetof(FieldFormat, padding0) == 1, "FieldFormat::mode is a u8");
static_assert(sizeof(FieldFormat::hasRange) == 4 && sizeof(FieldFormat::digits) == 4, "FieldFormat's u32 and i32");
static_assert(sizeof(FieldFormat::min) == 8 && sizeof(FieldFormat::max) == 8, "FieldFormat::min, max are i64");
static_assert(decltype(FieldFormat::min)(-1) < 0 && decltype(FieldFormat::max)(-1) < 0 &&
                  decltype(FieldFormat::digits)(-1) < 0,
              "FieldFormat's limits and digits are signed");
static_assert(offsetof(FieldFormat, padding1) == 28 && sizeof(FieldFormat::padding1) == 4, "FieldFormat padding");
