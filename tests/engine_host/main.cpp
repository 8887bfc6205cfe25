// engine_host client|server --transport T --framing F ... (see README).
#include <stdio.h>

#include "engine_host.h"

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) return 2;
  const TransportFamily* family = FindTransportFamily(options.Text("transport", "tcp"));
  if (!family) return 2;
  if (options.mode == "server") return RunServer(options, *family);
  if (options.mode == "client") return RunClient(options, *family);
  fprintf(stderr, "mode must be client or server\n");
  return 2;
}
