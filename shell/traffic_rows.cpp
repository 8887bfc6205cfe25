#include "shell/traffic_rows.h"

#include "common/plugin_interface.h"
#include "modbus/traffic_decode.h"

const Unit* const kTrafficColumnTitles[kTrafficColumnCount] = {u"Time", u"Dir", u"Peer", u"Length", u"Frame",
                                                               u"Meaning"};

namespace {

constexpr uint32_t kMsPerDay = 24u * 60u * 60u * 1000u;
// How far back an answer looks for its request.
constexpr uint64_t kRequestLookBack = 16;

bool IsRequest(const TrafficRow& row) { return (row.role == kTrafficMaster) == (row.direction == kTrafficTx); }

int AppendPadded(TextBuffer& out, uint32_t value, int32_t width) {
  out.width = width;
  out.fill = u'0';
  const int built = out.AppendUnsigned(value);
  out.width = 0;
  out.fill = u' ';
  return built;
}

int AppendPeer(const TrafficRow& row, TextBuffer& out) {
  if (row.peerAddress == 0) return 1;
  return out.AppendUnsigned(row.peerAddress >> 24) && out.AppendUnit(u'.') &&
         out.AppendUnsigned((row.peerAddress >> 16) & 0xFF) && out.AppendUnit(u'.') &&
         out.AppendUnsigned((row.peerAddress >> 8) & 0xFF) && out.AppendUnit(u'.') &&
         out.AppendUnsigned(row.peerAddress & 0xFF) && out.AppendUnit(u':') && out.AppendUnsigned(row.peerPort);
}

// The request an answer row answers: the nearest earlier request row of the
// same peer and framing that it fits.
bool FindRequest(TrafficStore& store, const TrafficRow& answer, TrafficRequestInfo* request) {
  TrafficRow scratch;
  TrafficRow* candidate = &scratch;
  for (uint64_t back = 1; back <= kRequestLookBack && back <= answer.sequence; ++back) {
    if (!store.Read(answer.sequence - back, candidate)) return false;
    if (candidate->failure || !IsRequest(*candidate) || candidate->framing != answer.framing ||
        candidate->peerAddress != answer.peerAddress || candidate->peerPort != answer.peerPort) {
      continue;
    }
    if (!TrafficRequestOf(candidate->framing, candidate->bytes, candidate->length, request)) continue;
    if (TrafficAnswers(answer.framing, answer.bytes, answer.length, *request)) return true;
  }
  return false;
}

int AppendMeaning(TrafficStore& store, const TrafficRow& row, TextBuffer& out) {
  if (row.failure) return out.Append(row.text);
  const bool request = IsRequest(row);
  TrafficRequestInfo asked;
  const bool known = !request && FindRequest(store, row, &asked);
  return DescribeTraffic(row.framing, request, row.bytes, row.length, known ? &asked : nullptr, out);
}

// A CSV field is quoted when it holds a comma, a quote or a line end.
int AppendField(const TextBuffer& cell, bool csv, bool first, TextBuffer& out) {
  if (!first && !out.AppendUnit(csv ? u',' : u'\t')) return 0;
  bool quote = false;
  for (int32_t i = 0; csv && i < cell.Length(); ++i) {
    const Unit u = cell.Text()[i];
    if (u == u',' || u == u'"' || u == u'\r' || u == u'\n') quote = true;
  }
  if (!quote) return out.Append(cell.Text(), cell.Length());
  if (!out.AppendUnit(u'"')) return 0;
  for (int32_t i = 0; i < cell.Length(); ++i) {
    const Unit u = cell.Text()[i];
    if (u == u'"' && !out.AppendUnit(u'"')) return 0;
    if (!out.AppendUnit(u)) return 0;
  }
  return out.AppendUnit(u'"');
}

}  // namespace

int AppendTrafficTime(const TrafficClock& clock, uint32_t tick, TextBuffer& out) {
  const int64_t since = static_cast<int32_t>(tick - clock.baseTick);
  int64_t ms = (static_cast<int64_t>(clock.baseMsOfDay) + since) % kMsPerDay;
  if (ms < 0) ms += kMsPerDay;
  const uint32_t t = static_cast<uint32_t>(ms);
  return AppendPadded(out, t / 3600000u, 2) && out.AppendUnit(u':') && AppendPadded(out, t / 60000u % 60u, 2) &&
         out.AppendUnit(u':') && AppendPadded(out, t / 1000u % 60u, 2) && out.AppendUnit(u'.') &&
         AppendPadded(out, t % 1000u, 3);
}

int AppendTrafficCell(TrafficStore& store, const TrafficClock& clock, const TrafficRow& row, int32_t column,
                      TextBuffer& out) {
  switch (column) {
    case kTrafficColumnTime: return AppendTrafficTime(clock, row.tick, out);
    case kTrafficColumnDirection: return out.Append(row.direction == kTrafficTx ? u"TX" : u"RX");
    case kTrafficColumnPeer: return AppendPeer(row, out);
    case kTrafficColumnLength: return row.length ? out.AppendUnsigned(row.length) : 1;
    case kTrafficColumnFrame: return AppendTrafficBytes(row.framing, row.bytes, row.length, out);
    case kTrafficColumnMeaning: return AppendMeaning(store, row, out);
    default: return 1;
  }
}

int AppendDroppedText(uint64_t dropped, TextBuffer& out) {
  return out.AppendUnsigned(dropped) && out.Append(dropped == 1 ? u" older row dropped" : u" older rows dropped");
}

int AppendTrafficLine(TrafficStore& store, const TrafficClock& clock, const TrafficRow& row, bool csv,
                      TextBuffer& out) {
  for (int32_t column = 0; column < kTrafficColumnCount; ++column) {
    TextBuffer cell;
    if (!AppendTrafficCell(store, clock, row, column, cell) || !AppendField(cell, csv, column == 0, out)) return 0;
  }
  return out.Append(u"\r\n");
}

int AppendDroppedLine(uint64_t dropped, bool csv, TextBuffer& out) {
  TextBuffer empty;
  for (int32_t column = 0; column < kTrafficColumnMeaning; ++column) {
    if (!AppendField(empty, csv, column == 0, out)) return 0;
  }
  TextBuffer text;
  return AppendDroppedText(dropped, text) && AppendField(text, csv, false, out) && out.Append(u"\r\n");
}

int AppendTrafficHeader(bool csv, TextBuffer& out) {
  for (int32_t column = 0; column < kTrafficColumnCount; ++column) {
    TextBuffer title;
    if (!title.Assign(kTrafficColumnTitles[column]) || !AppendField(title, csv, column == 0, out)) return 0;
  }
  return out.Append(u"\r\n");
}
