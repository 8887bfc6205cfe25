// An independent Modbus RTU server on a serial device, built on libmodbus:
// slave 1, a preset map of 100 cells per area (holding 1000+i, input
// 2000+i, coil i%3==0, discrete input i%2==0). Prints "ready" once the
// device is open and serves until its standard input closes; then prints
// "dump hr:ADDR v v ..." for each --dump and exits.
//
//   rtu_peer_server --device PATH [--dump AREA:ADDR:COUNT]...   (AREA co or hr)
#include <errno.h>
#include <modbus.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <unistd.h>

enum { kSize = 100 };

int main(int argc, char** argv) {
  const char* device = NULL;
  const char* dumps[8];
  int dumpCount = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--device") == 0) {
      device = argv[i + 1];
    } else if (strcmp(argv[i], "--dump") == 0 && dumpCount < 8) {
      dumps[dumpCount++] = argv[i + 1];
    } else {
      fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  if (!device) return 2;
  modbus_mapping_t* map = modbus_mapping_new(kSize, kSize, kSize, kSize);
  for (int i = 0; i < kSize; ++i) {
    map->tab_registers[i] = (uint16_t)(1000 + i);
    map->tab_input_registers[i] = (uint16_t)(2000 + i);
    map->tab_bits[i] = i % 3 == 0;
    map->tab_input_bits[i] = i % 2 == 0;
  }
  modbus_t* ctx = modbus_new_rtu(device, 19200, 'N', 8, 1);
  modbus_set_slave(ctx, 1);
  if (modbus_connect(ctx) != 0) {
    fprintf(stderr, "connect %s: %s\n", device, modbus_strerror(errno));
    return 1;
  }
  printf("ready\n");
  fflush(stdout);
  int fd = modbus_get_socket(ctx);
  uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
  for (;;) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(0, &ready);
    FD_SET(fd, &ready);
    if (select(fd + 1, &ready, NULL, NULL, NULL) < 0) break;
    if (FD_ISSET(0, &ready)) {
      char line[64];
      if (!fgets(line, sizeof line, stdin)) break;
    }
    if (FD_ISSET(fd, &ready)) {
      int length = modbus_receive(ctx, query);
      if (length > 0) modbus_reply(ctx, query, length, map);
    }
  }
  for (int d = 0; d < dumpCount; ++d) {
    int address = 0, count = 0;
    if (sscanf(dumps[d] + 2, ":%d:%d", &address, &count) != 2 || address < 0 || address + count > kSize) continue;
    int coils = strncmp(dumps[d], "co", 2) == 0;
    printf("dump %.2s:%d", dumps[d], address);
    for (int i = 0; i < count; ++i)
      printf(" %d", coils ? map->tab_bits[address + i] : map->tab_registers[address + i]);
    printf("\n");
  }
  fflush(stdout);
  modbus_close(ctx);
  modbus_free(ctx);
  modbus_mapping_free(map);
  return 0;
}
