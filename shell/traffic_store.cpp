#include "shell/traffic_store.h"

#include "common/exit_codes.h"
#include "common/memory.h"

struct TrafficStore::Record {
  uint32_t tick;
  uint32_t peerAddress;
  uint32_t at;  // chunk * kTrafficChunkBytes + offset of the bytes, then the text
  uint16_t peerPort;
  uint16_t length;
  uint8_t direction;
  uint8_t framing;
  uint8_t role;
  uint8_t failure;
  uint16_t textLength;  // units, without the NUL
  uint16_t padding;
};

namespace {

class Hold {
 public:
  explicit Hold(plat::Mutex* mutex) : mutex_(mutex) { plat::MutexLock(mutex_); }
  ~Hold() { plat::MutexUnlock(mutex_); }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

 private:
  plat::Mutex* mutex_;
};

}  // namespace

TrafficStore::TrafficStore() : mutex_(plat::MutexNew()) {
  if (!mutex_) plat::FatalExit(kExitOutOfMemory);
}

TrafficStore::~TrafficStore() {
  for (uint8_t* chunk : chunks_) mem::Release(chunk);
  mem::Release(records_);
  plat::MutexFree(mutex_);
}

void TrafficStore::DropOldest() {
  --count_;
  ++dropped_;
}

// The chunk to write once the current one is full: one whose rows have all
// left, else a new one, else the oldest row's. Chunks fill one at a time,
// so each holds an unbroken run of sequence numbers and the oldest row's
// chunk holds the oldest rows: they leave first.
uint32_t TrafficStore::NextChunk() {
  const uint64_t first = next_ - count_;
  for (uint32_t chunk = 0; chunk < chunksTaken_; ++chunk) {
    if (chunkEnd_[chunk] <= first) return chunk;
  }
  if (chunksTaken_ < kTrafficChunkCount) {
    chunks_[chunksTaken_] = static_cast<uint8_t*>(mem::Allocate(kTrafficChunkBytes));
    return chunksTaken_++;
  }
  const uint32_t oldest = records_[first % kTrafficRowCap].at / kTrafficChunkBytes;
  while (count_ > 0 && records_[(next_ - count_) % kTrafficRowCap].at / kTrafficChunkBytes == oldest) DropOldest();
  return oldest;
}

// Room for bytes in the chunk being written, or at the start of the next.
bool TrafficStore::Reserve(uint32_t bytes, uint32_t* at) {
  if (writeOffset_ + bytes > kTrafficChunkBytes || chunksTaken_ == 0) {
    writeChunk_ = NextChunk();
    writeOffset_ = 0;
  }
  *at = writeChunk_ * kTrafficChunkBytes + writeOffset_;
  writeOffset_ += bytes;
  chunkEnd_[writeChunk_] = next_ + 1;
  return true;
}

bool TrafficStore::Add(const TrafficFrame& frame) {
  if (frame.size < kTrafficFrameSize) return false;
  const uint32_t length = frame.bytes ? (frame.length < kTrafficMaxBytes ? frame.length : kTrafficMaxBytes) : 0;
  uint32_t textLength = 0;
  if (frame.text) {
    while (textLength + 1 < kTrafficTextCapacity && frame.text[textLength]) ++textLength;
  }
  Hold hold(mutex_);
  if (!records_) records_ = static_cast<Record*>(mem::Allocate(sizeof(Record) * kTrafficRowCap));
  if (count_ == kTrafficRowCap) DropOldest();
  uint32_t at = 0;
  Reserve(length + textLength * static_cast<uint32_t>(sizeof(Unit)), &at);
  uint8_t* place = chunks_[at / kTrafficChunkBytes] + at % kTrafficChunkBytes;
  if (length) mem::CopyBytes(place, frame.bytes, length);
  if (textLength) mem::CopyBytes(place + length, frame.text, textLength * sizeof(Unit));
  Record& record = records_[next_ % kTrafficRowCap];
  record.tick = frame.tick;
  record.peerAddress = frame.peerAddress;
  record.at = at;
  record.peerPort = frame.peerPort;
  record.length = static_cast<uint16_t>(length);
  record.direction = frame.direction;
  record.framing = frame.framing;
  record.role = frame.role;
  record.failure = frame.failure;
  record.textLength = static_cast<uint16_t>(textLength);
  record.padding = 0;
  ++next_;
  ++count_;
  const bool wake = !wakePending_;
  wakePending_ = true;
  return wake;
}

void TrafficStore::Woken() {
  Hold hold(mutex_);
  wakePending_ = false;
}

uint64_t TrafficStore::First() {
  Hold hold(mutex_);
  return next_ - count_;
}

uint64_t TrafficStore::Next() {
  Hold hold(mutex_);
  return next_;
}

uint64_t TrafficStore::Dropped() {
  Hold hold(mutex_);
  return dropped_;
}

bool TrafficStore::Read(uint64_t sequence, TrafficRow* row) {
  Hold hold(mutex_);
  if (sequence >= next_ || sequence < next_ - count_) return false;
  const Record& record = records_[sequence % kTrafficRowCap];
  const uint8_t* place = chunks_[record.at / kTrafficChunkBytes] + record.at % kTrafficChunkBytes;
  row->sequence = sequence;
  row->tick = record.tick;
  row->direction = record.direction;
  row->framing = record.framing;
  row->role = record.role;
  row->failure = record.failure;
  row->peerAddress = record.peerAddress;
  row->peerPort = record.peerPort;
  row->length = record.length;
  if (record.length) mem::CopyBytes(row->bytes, place, record.length);
  if (record.textLength) mem::CopyBytes(row->text, place + record.length, record.textLength * sizeof(Unit));
  row->text[record.textLength] = 0;
  return true;
}

void TrafficStore::Clear() {
  Hold hold(mutex_);
  count_ = 0;
  dropped_ = 0;
}

uint64_t TrafficStore::MemoryBytes() {
  Hold hold(mutex_);
  return (records_ ? sizeof(Record) * uint64_t{kTrafficRowCap} : 0) + uint64_t{chunksTaken_} * kTrafficChunkBytes;
}
