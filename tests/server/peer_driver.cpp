// A line-driven server for outside checkers (tests/server/pymodbus_peer.py):
// one server per framing, all fed with raw request ADUs in hexadecimal.
//
//   serve <framing> <hex ADU>   ->  "sent <hex ADU>" or "none <receive status>"
//   set <area> <address> <value> (every server's map)  ->  "ok"
//   get <framing> <area> <address>  ->  "ok <value>"
//
// Framings: rtu, rtustream, ascii (slave ID 1), mbap, mbapdgram ("Accept
// any"). The serial servers keep their diagnostic state between requests.

#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "serve_rig.h"

namespace {

std::string ToHex(const Bytes& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

}  // namespace

int main() {
  std::map<std::string, std::unique_ptr<ServeRig>> rigs;
  rigs["rtu"] = std::make_unique<ServeRig>(Framing::kRtuFrame, 1);
  rigs["rtustream"] = std::make_unique<ServeRig>(Framing::kRtuStream, 1);
  rigs["ascii"] = std::make_unique<ServeRig>(Framing::kAscii, 1);
  rigs["mbap"] = std::make_unique<ServeRig>(Framing::kMbapStream, 255, true);
  rigs["mbapdgram"] = std::make_unique<ServeRig>(Framing::kMbapDatagram, 255, true);

  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    if (command == "serve") {
      std::string framing, hex;
      in >> framing >> hex;
      auto rig = rigs.find(framing);
      if (rig == rigs.end()) {
        std::cout << "error unknown framing" << std::endl;
        continue;
      }
      ServeResult result = rig->second->Serve(Hex(hex));
      if (result.frames.size() > 1) {
        std::cout << "error " << result.frames.size() << " responses" << std::endl;
      } else if (result.frames.empty()) {
        std::cout << "none " << result.receiveStatus << std::endl;
      } else {
        std::cout << "sent " << ToHex(result.frames[0]) << std::endl;
      }
    } else if (command == "set") {
      int area = 0, address = 0, value = 0;
      in >> area >> address >> value;
      for (auto& rig : rigs) {
        rig.second->map->WriteCellFromUser(static_cast<uint8_t>(area), static_cast<uint16_t>(address), value);
      }
      std::cout << "ok" << std::endl;
    } else if (command == "get") {
      std::string framing;
      int area = 0, address = 0;
      in >> framing >> area >> address;
      auto rig = rigs.find(framing);
      if (rig == rigs.end()) {
        std::cout << "error unknown framing" << std::endl;
        continue;
      }
      std::cout << "ok " << rig->second->map->ReadCellLocked(static_cast<uint8_t>(area), static_cast<uint16_t>(address))
                << std::endl;
    } else {
      std::cout << "error unknown command" << std::endl;
    }
  }
  return 0;
}
