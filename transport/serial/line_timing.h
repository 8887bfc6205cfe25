#pragma once
// Time arithmetic of a serial line: how long characters take on the wire and
// the RTU character times t1.5 and t3.5. All results are whole milliseconds,
// rounded up; a baud rate of 0 switches every time computation off.

#include <stdint.h>

// Parity and stop-bit codes as the communications driver numbers them.
constexpr uint8_t kParityNone = 0;
constexpr uint8_t kParityOdd = 1;
constexpr uint8_t kParityEven = 2;
constexpr uint8_t kStopBitsOne = 0;
constexpr uint8_t kStopBitsTwo = 2;

// One start bit, the data bits, a parity bit when parity is on, and one or
// two stop bits.
uint32_t BitsPerCharacter(uint8_t dataBits, uint8_t parity, uint8_t stopBits);

// ceil(count x bits x 1000 / baud); 0 when the baud rate is 0. Saturates at
// 2^32 - 1.
uint32_t WireTimeMs(uint32_t count, uint32_t bitsPerCharacter, uint32_t baud);

// RTU silences counted in 11-bit characters: 1.5 characters end a frame, 3.5
// separate two frames. Above 19200 baud both are fixed (2 ms), as the serial
// line guide recommends, because the driver cannot time finer gaps reliably.
uint32_t RtuT15Ms(uint32_t baud);
uint32_t RtuT35Ms(uint32_t baud);

// The driver's read interval time-out that ends an RTU frame. The driver
// times the interval from one character's arrival to the next, and that
// includes the next character's own time on the wire, so the silence it
// accepts is the interval minus one character. The interval is t1.5 plus
// one character time rounded down to whole milliseconds: the silence
// accepted inside a frame is then t1.5 less a fraction of a millisecond,
// and the check for t3.5 after the frame (t3.5 - t1.5 more) measures t3.5
// of silence, not t3.5 less one character.
uint32_t RtuReadIntervalMs(uint32_t baud, uint32_t bitsPerCharacter);

// Driver write time-out per character: 11 bits for RTU, 10 bits for ASCII.
uint32_t RtuWriteMsPerCharacter(uint32_t baud);
uint32_t AsciiWriteMsPerCharacter(uint32_t baud);

// The longest silence inside an RTU frame whose length the framing knows.
// The common USB adapters hand over what they hold when their latency
// timer runs out, 16 ms by default; on a Windows whose timer was not set
// finer, our own wait for the next burst can end up to one 15.6 ms period
// late or early; and the adapter's USB transfers are scheduled in 1 ms
// frames. 16 + 15.6 + 1 rounds up to 33; 40 ms leaves room for a busy
// host. A frame cut short is reported 40 ms later than a silence of t3.5
// would, still far inside any response time-out.
constexpr uint32_t kRtuBurstGapMs = 40;

// The longest RTU frame plus its terminating character, used to bound the
// reading of one frame and the waits for silence.
constexpr uint32_t kRtuFrameBudgetCharacters = 257;
