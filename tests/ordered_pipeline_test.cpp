// The bounded ordered pipeline on its own: items come back in the order they
// went in whatever order the workers finish them, the window of items and
// bytes in flight holds, and a cancelled or abandoned run stops every
// thread.
#include "tools/filepacktools_lib/orderedpipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

using CIntPipeline = COrderedPipeline<std::unique_ptr<int>>;

void Nap(int nMicroseconds) { std::this_thread::sleep_for(std::chrono::microseconds(nMicroseconds)); }

// Waits up to ten seconds for a condition that other threads bring about.
template <typename TFn>
bool WaitFor(TFn fnDone) {
  for (int i = 0; i < 10000 && !fnDone(); ++i) Nap(1000);
  return fnDone();
}

// Pushes 0..nCount-1, each declared as qwBytes; counts the pushes accepted.
CIntPipeline::Producer Counting(int nCount, uint64_t qwBytes, std::atomic<int>& nPushed) {
  return [nCount, qwBytes, &nPushed](CIntPipeline& out) {
    for (int i = 0; i < nCount; ++i) {
      if (!out.Push(std::make_unique<int>(i), qwBytes)) return;
      ++nPushed;
    }
  };
}

TEST(OrderedPipelineTest, ItemsComeBackInTheirOrderWhateverOrderTheWorkersFinish) {
  std::atomic<int> nPushed{0};
  CIntPipeline pipeline(8, UINT64_MAX);
  // Early items take longest, so later ones overtake them on other workers.
  ASSERT_TRUE(pipeline.Start(4, Counting(200, 1, nPushed), [](std::unique_ptr<int>& p) {
    Nap(((200 - *p) % 7) * 300);
    *p = *p * 3 + 1;
  }));
  std::unique_ptr<int> p;
  int nNext = 0;
  while (pipeline.Pop(p)) {
    ASSERT_EQ(nNext * 3 + 1, *p);
    ++nNext;
  }
  EXPECT_EQ(200, nNext);
  EXPECT_EQ(200, nPushed.load());
}

TEST(OrderedPipelineTest, NoMoreItemsThanTheWindowAreInFlight) {
  std::atomic<int> nPushed{0};
  CIntPipeline pipeline(3, UINT64_MAX);
  ASSERT_TRUE(pipeline.Start(2, Counting(60, 1, nPushed), [](std::unique_ptr<int>&) {}));
  // Nothing is taken yet: the producer fills the window and waits there.
  ASSERT_TRUE(WaitFor([&] { return nPushed.load() == 3; }));
  Nap(20000);
  EXPECT_EQ(3, nPushed.load());
  EXPECT_EQ(3u, pipeline.InFlight());
  std::unique_ptr<int> p;
  int nTaken = 0;
  while (pipeline.Pop(p)) {
    EXPECT_LE(pipeline.InFlight(), 3u);
    // Pushed but not taken: at most the window, plus the one just taken
    // whose slot the producer may already have filled again.
    EXPECT_LE(nPushed.load() - nTaken, 4);
    ++nTaken;
  }
  EXPECT_EQ(60, nTaken);
}

TEST(OrderedPipelineTest, TheByteBudgetHoldsButAnItemLargerThanItPassesAlone) {
  // Items of 40 bytes under a budget of 100: two at a time. Then one of
  // 1000 bytes, which must not wait forever.
  std::atomic<int> nPushed{0};
  CIntPipeline pipeline(16, 100);
  ASSERT_TRUE(pipeline.Start(
      3,
      [&](CIntPipeline& out) {
        for (int i = 0; i < 30; ++i) nPushed += out.Push(std::make_unique<int>(i), 40);
        nPushed += out.Push(std::make_unique<int>(30), 1000);
        nPushed += out.Push(std::make_unique<int>(31), 40);
      },
      [](std::unique_ptr<int>&) {}));
  ASSERT_TRUE(WaitFor([&] { return nPushed.load() == 2; }));
  Nap(20000);
  EXPECT_EQ(2, nPushed.load());
  std::unique_ptr<int> p;
  int nNext = 0;
  while (pipeline.Pop(p)) {
    EXPECT_LE(pipeline.InFlight(), 2u);
    EXPECT_EQ(nNext++, *p);
  }
  EXPECT_EQ(32, nNext);
}

TEST(OrderedPipelineTest, CancelStopsTheProducerTheWorkersAndTheConsumer) {
  std::atomic<int> nPushed{0};
  std::atomic<int> nWorked{0};
  CIntPipeline pipeline(4, UINT64_MAX);
  ASSERT_TRUE(pipeline.Start(2, Counting(100000, 1, nPushed), [&](std::unique_ptr<int>&) {
    ++nWorked;
    Nap(100);
  }));
  std::unique_ptr<int> p;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(pipeline.Pop(p));
  pipeline.Cancel();
  EXPECT_FALSE(pipeline.Pop(p));
  const int nWorkedAtCancel = nWorked.load();
  Nap(20000);
  // Workers finish the item in hand at most; the producer stops at once.
  EXPECT_LE(nWorked.load(), nWorkedAtCancel + 2);
  EXPECT_LT(nPushed.load(), 100);
}

TEST(OrderedPipelineTest, AnAbandonedRunStopsWhenThePipelineGoes) {
  std::atomic<int> nPushed{0};
  {
    CIntPipeline pipeline(2, UINT64_MAX);
    ASSERT_TRUE(pipeline.Start(3, Counting(1000, 1, nPushed), [](std::unique_ptr<int>&) {}));
    Nap(5000);  // the window is full and the producer waits; nobody takes anything
  }
  EXPECT_LE(nPushed.load(), 2);
}

TEST(OrderedPipelineTest, AProducerThatMakesNothingEndsTheRun) {
  CIntPipeline pipeline(2, UINT64_MAX);
  ASSERT_TRUE(pipeline.Start(2, [](CIntPipeline&) {}, [](std::unique_ptr<int>&) {}));
  std::unique_ptr<int> p;
  EXPECT_FALSE(pipeline.Pop(p));
  EXPECT_EQ(0u, pipeline.InFlight());
}

// A count asked for is taken as it is; otherwise one worker per processor,
// never more than the cap.
TEST(OrderedPipelineTest, WorkerCountIsTheRequestElseOnePerProcessorCapped) {
  EXPECT_EQ(3u, PipelineWorkerCount(3));
  EXPECT_EQ(100u, PipelineWorkerCount(100));
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const size_t nExpected = std::min<size_t>(std::max<DWORD>(info.dwNumberOfProcessors, 1), kMaxPipelineWorkers);
  EXPECT_EQ(nExpected, PipelineWorkerCount(0));
  EXPECT_EQ(nExpected, PipelineWorkerCount(-2));
}

}  // namespace
