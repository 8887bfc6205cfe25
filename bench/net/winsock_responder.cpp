// The yardstick for our Windows server under Wine: the least a Winsock
// program can do per request. One client at a time; each pass waits with
// select in 50 ms slices, receives one MBAP request and answers function 3
// with the number of registers asked for (zeros), after waiting with select
// for the socket to be writable. Port from the command line; prints "ready".
#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static bool WaitFor(SOCKET s, bool write) {
  for (;;) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval slice = {0, 50000};
    int ready = select(0, write ? nullptr : &set, write ? &set : nullptr, nullptr, &slice);
    if (ready < 0) return false;
    if (ready > 0) return true;
  }
}

int main(int argc, char** argv) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in local = {};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<u_short>(argc > 1 ? atoi(argv[1]) : 1502));
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || listen(listener, 1) != 0) {
    printf("cannot listen\n");
    return 1;
  }
  printf("ready\n");
  fflush(stdout);
  for (;;) {
    SOCKET client = accept(listener, nullptr, nullptr);
    if (client == INVALID_SOCKET) break;
    BOOL on = TRUE;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    unsigned char request[300];
    unsigned char response[300];
    for (;;) {
      if (!WaitFor(client, false)) break;
      int n = recv(client, reinterpret_cast<char*>(request), sizeof request, 0);
      if (n < 12) break;
      int count = (request[10] << 8) | request[11];
      if (count > 125) count = 125;
      memset(response, 0, sizeof response);
      memcpy(response, request, 4);
      response[5] = static_cast<unsigned char>(3 + 2 * count);
      response[6] = request[6];
      response[7] = 3;
      response[8] = static_cast<unsigned char>(2 * count);
      if (!WaitFor(client, true)) break;
      if (send(client, reinterpret_cast<const char*>(response), 9 + 2 * count, 0) <= 0) break;
    }
    closesocket(client);
  }
  return 0;
}
