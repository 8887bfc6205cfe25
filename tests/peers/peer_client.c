// An independent Modbus TCP client built on libmodbus.
//
//   peer_client --port P [--host H] [--unit N] script
//     reads commands from standard input, one a line, and prints one result
//     line each:
//       F ADDR QTY            read (F 1-4)          -> "OK v v v"
//       F ADDR V,V,...        write (F 5, 6, 15, 16) -> "OK"
//       raw HEXBYTES          any PDU               -> "RAW hexbytes" of the response PDU
//     a failure prints "EXC c" (exception code c) or "ERR text".
//   peer_client --rtu DEVICE [--unit N] script
//     the same commands as an RTU master on a serial device at 19200-8-N-1 (a pty takes no parity)
//     (a CRC error prints "EXC 12", an answer from another slave "ERR ...")
//   peer_client --port P [--host H] [--unit N] bench SECONDS
//     reads 125 holding registers at 0 back to back for SECONDS and prints
//     "requests N seconds S rate R".
//   peer_client --port P [--host H] [--unit N] own BASE SECONDS
//     one of several masters sharing a slave: writes ten holding registers
//     at BASE (function 16, a new value each time) and reads them back
//     (function 3) for SECONDS; prints "requests N failures F mismatches M
//     seconds S rate R last V" (V the value last written).
#include <errno.h>
#include <time.h>

#include "peer_map.h"

static double now_seconds(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static void print_failure(void) {
  if (errno > MODBUS_ENOBASE && errno < MODBUS_ENOBASE + 16) printf("EXC %d\n", errno - MODBUS_ENOBASE);
  else printf("ERR %s\n", modbus_strerror(errno));
}

static int parse_values(const char* text, int* values, int capacity) {
  int count = 0;
  while (*text && count < capacity) {
    char* end = NULL;
    values[count++] = (int)strtol(text, &end, 0);
    if (end == text) return -1;
    text = *end == ',' ? end + 1 : end;
  }
  return count;
}

static void run_command(modbus_t* ctx, int unit, char* line) {
  int function = 0, address = 0;
  char rest[2048] = "";
  if (strncmp(line, "raw ", 4) == 0) {
    uint8_t request[260];
    int length = 0;
    request[length++] = (uint8_t)unit;  // the raw request starts with the unit id
    for (char* p = line + 4; *p && length < 253;) {
      char* end = NULL;
      long byte = strtol(p, &end, 16);
      if (end == p) break;
      request[length++] = (uint8_t)byte;
      p = end;
    }
    uint8_t response[MODBUS_TCP_MAX_ADU_LENGTH];
    if (modbus_send_raw_request(ctx, request, length) < 0) { print_failure(); return; }
    int received = modbus_receive_confirmation(ctx, response);
    if (received < 0) { print_failure(); return; }
    printf("RAW");
    for (int i = 7; i < received; ++i) printf(" %02x", response[i]);  // after the MBAP header
    printf("\n");
    return;
  }
  if (sscanf(line, "%d %d %2047s", &function, &address, rest) != 3) { printf("ERR syntax\n"); return; }
  int values[2000];
  int count = parse_values(rest, values, 2000);
  uint8_t bits[2000];
  uint16_t registers[125];
  int rc = -1;
  switch (function) {
    case 1: case 2:
      rc = function == 1 ? modbus_read_bits(ctx, address, values[0], bits) : modbus_read_input_bits(ctx, address, values[0], bits);
      if (rc < 0) break;
      printf("OK");
      for (int i = 0; i < rc; ++i) printf(" %d", bits[i]);
      printf("\n");
      return;
    case 3: case 4:
      rc = function == 3 ? modbus_read_registers(ctx, address, values[0], registers) : modbus_read_input_registers(ctx, address, values[0], registers);
      if (rc < 0) break;
      printf("OK");
      for (int i = 0; i < rc; ++i) printf(" %d", registers[i]);
      printf("\n");
      return;
    case 5: rc = modbus_write_bit(ctx, address, values[0]); break;
    case 6: rc = modbus_write_register(ctx, address, values[0]); break;
    case 15:
      for (int i = 0; i < count; ++i) bits[i] = (uint8_t)(values[i] ? 1 : 0);
      rc = modbus_write_bits(ctx, address, count, bits);
      break;
    case 16:
      for (int i = 0; i < count && i < 125; ++i) registers[i] = (uint16_t)values[i];
      rc = modbus_write_registers(ctx, address, count, registers);
      break;
    default: printf("ERR function\n"); return;
  }
  if (rc < 0) print_failure();
  else printf("OK\n");
}

int main(int argc, char** argv) {
  const char* host = "127.0.0.1";
  const char* device = NULL;
  int port = 502, unit = 1, i = 1;
  for (; i + 1 < argc && argv[i][0] == '-'; i += 2) {
    if (strcmp(argv[i], "--host") == 0) host = argv[i + 1];
    else if (strcmp(argv[i], "--port") == 0) port = atoi(argv[i + 1]);
    else if (strcmp(argv[i], "--unit") == 0) unit = atoi(argv[i + 1]);
    else if (strcmp(argv[i], "--rtu") == 0) device = argv[i + 1];
  }
  if (i >= argc) { fprintf(stderr, "usage: peer_client [options] script|bench SECONDS\n"); return 2; }
  modbus_t* ctx = device ? modbus_new_rtu(device, 19200, 'N', 8, 1) : modbus_new_tcp(host, port);
  modbus_set_slave(ctx, unit);
  modbus_set_response_timeout(ctx, 2, 0);
  if (modbus_connect(ctx) != 0) { printf("ERR connect %s\n", modbus_strerror(errno)); return 1; }
  if (strcmp(argv[i], "bench") == 0) {
    double seconds = i + 1 < argc ? atof(argv[i + 1]) : 3.0;
    uint16_t registers[125];
    long requests = 0, failures = 0;
    double start = now_seconds(), end = start + seconds, t = start;
    while (t < end) {
      for (int k = 0; k < 64; ++k) {
        if (modbus_read_registers(ctx, 0, 125, registers) == 125) ++requests;
        else ++failures;
      }
      t = now_seconds();
    }
    printf("requests %ld failures %ld seconds %.3f rate %.0f\n", requests, failures, t - start, requests / (t - start));
  } else if (strcmp(argv[i], "own") == 0 && i + 2 < argc) {
    const int base = atoi(argv[i + 1]);
    const double seconds = atof(argv[i + 2]);
    uint16_t written[10], read[10];
    long requests = 0, failures = 0, mismatches = 0;
    int value = base;
    double start = now_seconds(), end = start + seconds, t = start;
    while (t < end) {
      value = (value + 1) & 0xFFFF;
      for (int k = 0; k < 10; ++k) written[k] = (uint16_t)(value + k);
      if (modbus_write_registers(ctx, base, 10, written) == 10) ++requests;
      else ++failures;
      if (modbus_read_registers(ctx, base, 10, read) == 10) {
        ++requests;
        if (memcmp(read, written, sizeof read) != 0) ++mismatches;
      } else {
        ++failures;
      }
      t = now_seconds();
    }
    printf("requests %ld failures %ld mismatches %ld seconds %.3f rate %.0f last %d\n", requests, failures,
           mismatches, t - start, requests / (t - start), value);
  } else {
    char line[4096];
    while (fgets(line, sizeof line, stdin)) {
      line[strcspn(line, "\r\n")] = '\0';
      if (line[0]) run_command(ctx, unit, line);
      fflush(stdout);
    }
  }
  modbus_close(ctx);
  modbus_free(ctx);
  return 0;
}
