#pragma once
// The traffic log's rows as text: the cells of the list, a row's line for
// the clipboard and the text file, and its CSV line. Portable: the shell's
// window asks for what it shows, and the host tests check the same texts.
//
// A list index maps to the store's rows after one leading row that says
// how many rows were dropped, when any were.

#include <stdint.h>

#include "common/text.h"
#include "shell/traffic_store.h"

enum TrafficColumn : int32_t {
  kTrafficColumnTime = 0,
  kTrafficColumnDirection = 1,
  kTrafficColumnPeer = 2,
  kTrafficColumnLength = 3,
  kTrafficColumnFrame = 4,
  kTrafficColumnMeaning = 5,
  kTrafficColumnCount = 6,
};

// The column titles, in order.
extern const Unit* const kTrafficColumnTitles[kTrafficColumnCount];

// Turns ticks into the time of day: the tick and the local time of day
// (milliseconds since midnight) taken together once.
struct TrafficClock {
  uint32_t baseTick = 0;
  uint32_t baseMsOfDay = 0;
};

// "hh:mm:ss.mmm" of tick.
int AppendTrafficTime(const TrafficClock& clock, uint32_t tick, TextBuffer& out);

// The text of one cell of the row of sequence number (read already into
// row). An answer's meaning looks back a few rows for its request.
int AppendTrafficCell(TrafficStore& store, const TrafficClock& clock, const TrafficRow& row, int32_t column,
                      TextBuffer& out);

// The dropped row's text, "1234 older rows dropped".
int AppendDroppedText(uint64_t dropped, TextBuffer& out);

// Whole lines: the cells separated by tabs (the clipboard's and the text
// file's), or as CSV fields (quoted where needed), ended by CR LF. The
// dropped row's line holds its text in the meaning column.
int AppendTrafficLine(TrafficStore& store, const TrafficClock& clock, const TrafficRow& row, bool csv,
                      TextBuffer& out);
int AppendDroppedLine(uint64_t dropped, bool csv, TextBuffer& out);
// The titles' line.
int AppendTrafficHeader(bool csv, TextBuffer& out);
