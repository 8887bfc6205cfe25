// The worker serves requests while the user-interface thread reads and edits
// the same map: every multi-cell change is seen whole or not at all, from
// either side. Built for ThreadSanitizer as well.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "serve_rig.h"

namespace {

constexpr int kServes = 600;
constexpr uint16_t kBlock = 123;
constexpr uint16_t kServerBlockStart = 1000;  // written by the client, read by the user
constexpr uint16_t kUserBlockStart = 3000;    // written by the user, read by the client

Bytes WriteBlockRequest(uint16_t value) {
  std::string pdu = "10 03E8 007B F6";
  for (int i = 0; i < kBlock; ++i) {
    char word[8];
    snprintf(word, sizeof word, " %04X", value);
    pdu += word;
  }
  return RtuAdu(1, Hex(pdu));
}

TEST(MapConcurrency, MultiCellChangesAreSeenWhole) {
  ServeRig rig(Framing::kRtuFrame);
  DeviceMap& map = *rig.map;
  std::atomic<bool> serverDone{false}, userStarted{false};
  std::atomic<int> tornByUser{0}, tornByClient{0}, badAnswers{0}, userPasses{0};

  // The worker: alternate writes of 123 equal registers with reads of the
  // block the user keeps rewriting.
  // It starts serving once the user thread runs: on a loaded machine it could
  // otherwise serve every request before the user thread had its first pass.
  std::thread worker([&] {
    while (!userStarted) std::this_thread::yield();
    for (int i = 0; i < kServes; ++i) {
      ServeResult write = rig.Serve(WriteBlockRequest(static_cast<uint16_t>(i + 1)));
      if (write.frames.size() != 1) ++badAnswers;
      ServeResult read = rig.Serve(RtuAdu(1, Hex("03 0BB8 007B")));
      if (read.frames.size() != 1 || read.frames[0].size() != 3 + 2 * kBlock + 2) {
        ++badAnswers;
        continue;
      }
      const Bytes& f = read.frames[0];
      for (int r = 1; r < kBlock; ++r) {
        if (f[3 + 2 * r] != f[3] || f[4 + 2 * r] != f[4]) {
          ++tornByClient;
          break;
        }
      }
    }
    serverDone = true;
  });

  // The user interface: snapshots of the client's block under the map lock,
  // block edits of its own, single-cell edits and aliases in between.
  std::thread user([&] {
    userStarted = true;
    for (int pass = 0; pass < 20 * kServes && (pass == 0 || !serverDone); ++pass) {
      map.LockMap();
      const uint16_t first = map.Cell(kAreaHoldingRegisters, kServerBlockStart);
      for (uint16_t r = 1; r < kBlock; ++r) {
        if (map.Cell(kAreaHoldingRegisters, static_cast<uint16_t>(kServerBlockStart + r)) != first) {
          ++tornByUser;
          break;
        }
      }
      map.UnlockMap();

      map.LockMap();
      for (uint16_t r = 0; r < kBlock; ++r) {
        map.SetCell(kAreaHoldingRegisters, static_cast<uint16_t>(kUserBlockStart + r), static_cast<uint16_t>(pass));
      }
      map.UnlockMap();

      map.WriteCellFromUser(kAreaCoils, static_cast<uint16_t>(pass % 64), pass & 1);
      map.WriteCellFromUser(kAreaInputRegisters, 7, pass);
      (void)map.ReadCellLocked(kAreaHoldingRegisters, kServerBlockStart);
      map.SetAlias(kAreaHoldingRegisters, static_cast<uint16_t>(pass % 16), (pass & 1) ? u"flow" : u"");
      Unit alias[32];
      map.GetAlias(kAreaHoldingRegisters, 3, alias, 32);
      ++userPasses;
    }
  });

  worker.join();
  user.join();
  EXPECT_EQ(badAnswers.load(), 0);
  EXPECT_EQ(tornByUser.load(), 0);
  EXPECT_EQ(tornByClient.load(), 0);
  EXPECT_GT(userPasses.load(), 0);
  EXPECT_EQ(map.ReadCellLocked(kAreaHoldingRegisters, kServerBlockStart + kBlock - 1), kServes);
}

}  // namespace
