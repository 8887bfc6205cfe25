// An independent Modbus TCP server built on libmodbus: a preset map of 150
// cells per area, any unit id, several clients at once. Prints "ready" once
// it listens and serves until its standard input closes; then prints the
// dumps asked for and exits.
//
//   peer_server --port P [--set AREA:ADDR=V,...]... [--dump AREA:ADDR:COUNT]...
//               [--fail UNIT=CODE]...   (requests to UNIT answer exception CODE)
#include <errno.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include "peer_map.h"

int main(int argc, char** argv) {
  int port = 0;
  const char* dumps[16];
  int dumpCount = 0;
  int failCode[256] = {0};
  modbus_mapping_t* map = modbus_mapping_new(kPeerMapSize, kPeerMapSize, kPeerMapSize, kPeerMapSize);
  for (int i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--port") == 0) {
      port = atoi(argv[i + 1]);
    } else if (strcmp(argv[i], "--set") == 0) {
      if (peer_preset(map, argv[i + 1]) != 0) { fprintf(stderr, "bad --set %s\n", argv[i + 1]); return 2; }
    } else if (strcmp(argv[i], "--dump") == 0 && dumpCount < 16) {
      dumps[dumpCount++] = argv[i + 1];
    } else if (strcmp(argv[i], "--fail") == 0) {
      int unit = 0, code = 0;
      if (sscanf(argv[i + 1], "%d=%d", &unit, &code) == 2 && unit >= 0 && unit < 256) failCode[unit] = code;
    } else {
      fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
  int listener = modbus_tcp_listen(ctx, 8);
  if (listener < 0) { fprintf(stderr, "listen: %s\n", modbus_strerror(errno)); return 1; }
  printf("ready\n");
  fflush(stdout);

  fd_set all;
  FD_ZERO(&all);
  FD_SET(0, &all);
  FD_SET(listener, &all);
  int top = listener;
  uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
  for (;;) {
    fd_set ready = all;
    if (select(top + 1, &ready, NULL, NULL, NULL) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (FD_ISSET(0, &ready)) {
      char line[256];
      if (read(0, line, sizeof line) <= 0) break;
    }
    if (FD_ISSET(listener, &ready)) {
      int client = accept(listener, NULL, NULL);
      if (client >= 0) {
        FD_SET(client, &all);
        if (client > top) top = client;
      }
    }
    for (int fd = 1; fd <= top; ++fd) {
      if (fd == listener || !FD_ISSET(fd, &ready)) continue;
      modbus_set_socket(ctx, fd);
      int length = modbus_receive(ctx, query);
      if (length > 0) {
        int unit = query[6];
        if (failCode[unit]) modbus_reply_exception(ctx, query, (unsigned)failCode[unit]);
        else modbus_reply(ctx, query, length, map);
      } else if (length < 0) {
        close(fd);
        FD_CLR(fd, &all);
      }
    }
  }
  for (int i = 0; i < dumpCount; ++i) peer_dump(map, dumps[i]);
  fflush(stdout);
  close(listener);
  modbus_free(ctx);
  modbus_mapping_free(map);
  return 0;
}
