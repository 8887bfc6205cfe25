#pragma once
// The traffic log's store: the latest kTrafficRowCap rows of every frame
// and failure the plug-ins hand to HostLink::logFrame, in bounded memory.
// Rows keep their fixed fields in a ring of records and their bytes and
// texts in 64 KB chunks filled one after the other: a full chunk is followed
// by one whose rows have all left, else by a new one (at most
// kTrafficChunkCount), else by the oldest row's chunk, whose rows leave. So
// the chunks taken follow what the held rows need, not the rows ever added.
// A row leaves when the ring of records is full or its chunk is needed
// again; every row that leaves counts as dropped.
//
// Threads: Add on any thread (a plug-in's worker), everything else on the
// user-interface thread; one mutex guards the whole. Add reports whether the
// reader must be woken: only the first row after the reader's last Woken
// does, so a burst of frames costs one wake.

#include <stdint.h>

#include "common/platform.h"
#include "common/plugin_interface.h"

constexpr uint32_t kTrafficRowCap = 100000;
constexpr uint32_t kTrafficChunkBytes = 64 * 1024;
constexpr uint32_t kTrafficChunkCount = 256;   // 16 MB of bytes and texts at most
constexpr uint32_t kTrafficMaxBytes = 600;     // a frame beyond it keeps its first bytes
constexpr uint32_t kTrafficTextCapacity = 64;  // a failure's text, NUL included

// One row as the reader gets it.
struct TrafficRow {
  uint64_t sequence = 0;  // counts every row ever added, from 0
  uint32_t tick = 0;
  uint8_t direction = 0;
  uint8_t framing = 0;
  uint8_t role = 0;
  uint8_t failure = 0;
  uint32_t peerAddress = 0;
  uint16_t peerPort = 0;
  uint32_t length = 0;
  uint8_t bytes[kTrafficMaxBytes] = {};
  Unit text[kTrafficTextCapacity] = {};
};

class TrafficStore {
 public:
  TrafficStore();
  ~TrafficStore();
  TrafficStore(const TrafficStore&) = delete;
  TrafficStore& operator=(const TrafficStore&) = delete;

  // Copies the frame in. True when the reader is to be woken.
  bool Add(const TrafficFrame& frame);
  // The reader is about to read: the next Add wakes it again.
  void Woken();

  // The sequence numbers held: [First(), Next()).
  uint64_t First();
  uint64_t Next();
  // Rows that left to make room since the last Clear.
  uint64_t Dropped();
  // Copies the row of sequence number; false when it is no longer held.
  bool Read(uint64_t sequence, TrafficRow* row);
  // Forgets every row and the dropped count; sequence numbers go on.
  void Clear();

  // Bytes taken for records and chunks (for the memory figures).
  uint64_t MemoryBytes();

 private:
  struct Record;
  void DropOldest();
  bool Reserve(uint32_t bytes, uint32_t* at);
  uint32_t NextChunk();

  plat::Mutex* mutex_;
  Record* records_ = nullptr;  // kTrafficRowCap, taken at the first Add
  uint8_t* chunks_[kTrafficChunkCount] = {};
  uint32_t chunksTaken_ = 0;  // chunks [0, chunksTaken_) are allocated
  // One past the sequence number of the last row written into each chunk:
  // the chunk holds no row once First() reaches it.
  uint64_t chunkEnd_[kTrafficChunkCount] = {};
  uint32_t writeChunk_ = 0;
  uint32_t writeOffset_ = 0;
  uint64_t next_ = 0;   // sequence number of the next row
  uint32_t count_ = 0;  // rows held: next_ - count_ is the first
  uint64_t dropped_ = 0;
  bool wakePending_ = false;
};
