#include "common/memory.h"

#include <gtest/gtest.h>

#include "common/app_context.h"

namespace {

TEST(Memory, AllocateTakesZeroAsOne) {
  void* block = mem::Allocate(0);
  ASSERT_NE(block, nullptr);
  mem::Release(block);
  mem::Release(nullptr);
}

TEST(Memory, ReallocateCoversNullZeroAndGrowth) {
  uint8_t* block = static_cast<uint8_t*>(mem::Reallocate(nullptr, 4));
  ASSERT_NE(block, nullptr);
  mem::FillBytes(block, 0xAB, 4);
  block = static_cast<uint8_t*>(mem::Reallocate(block, 4096));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(block[i], 0xAB);
  EXPECT_EQ(mem::Reallocate(block, 0), nullptr);  // releases
}

TEST(Memory, CopyAndFill) {
  uint8_t source[5] = {1, 2, 3, 4, 5};
  uint8_t target[5] = {};
  mem::CopyBytes(target, source, 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(target[i], source[i]);
  mem::FillBytes(target + 1, 9, 3);
  EXPECT_EQ(target[0], 1);
  EXPECT_EQ(target[1], 9);
  EXPECT_EQ(target[3], 9);
  EXPECT_EQ(target[4], 5);
}

struct Counted {
  explicit Counted(int* counter) : counter_(counter) { ++*counter_; }
  ~Counted() { --*counter_; }
  int* counter_;
};

TEST(Memory, GrowWhenFullDoublesFromTheFirstCapacityAndKeepsItems) {
  int32_t* items = nullptr;
  int32_t count = 0, capacity = 0;
  for (int32_t i = 0; i < 20; ++i) {
    mem::GrowWhenFull(&items, count, &capacity, 8);
    items[count++] = i;
    EXPECT_EQ(capacity, i < 8 ? 8 : i < 16 ? 16 : 32);
  }
  for (int32_t i = 0; i < count; ++i) EXPECT_EQ(items[i], i);
  mem::Release(items);
}

TEST(Memory, NewAndDeleteConstructAndDestroy) {
  int live = 0;
  Counted* object = mem::New<Counted>(&live);
  EXPECT_EQ(live, 1);
  mem::Delete(object);
  EXPECT_EQ(live, 0);
  mem::Delete<Counted>(nullptr);
}

TEST(AppContext, OnePerModuleAndReleaseClearsThePointer) {
  int module = 0;
  AppContext* context = AppContextCreate(&module);
  ASSERT_EQ(CurrentAppContext(), context);
  EXPECT_EQ(context->moduleInstance, &module);
  EXPECT_EQ(context->resourceInstance, &module);
  EXPECT_EQ(context->valid, 1u);
  AppContextRelease(context);
  EXPECT_EQ(CurrentAppContext(), nullptr);
  // After release a new context may be created again.
  AppContext* again = AppContextCreate(&module);
  EXPECT_EQ(CurrentAppContext(), again);
  AppContextRelease(again);
}

}  // namespace
