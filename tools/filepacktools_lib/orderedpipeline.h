// A bounded, ordered pipeline of three stages: one producer thread makes
// items in order, worker threads process them in any order, and the caller
// takes them back in exactly the order they were made.
//
// Memory stays bounded: at most nMaxItems items are in flight (pushed and
// not yet taken back) and their declared sizes add up to at most qwMaxBytes,
// except that an item arriving at an empty pipeline is always let in, so
// one item larger than the budget cannot block the run. The producer may
// hold one more item of its own while it waits.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/win32.h"

template <typename TItem>
class COrderedPipeline {
 public:
  // Runs on the producer thread; makes items in order with Push and stops
  // early when Push returns false. The pipeline is closed when it returns.
  using Producer = std::function<void(COrderedPipeline&)>;
  // Runs on a worker thread, on one item at a time; must not throw.
  using Worker = std::function<void(TItem&)>;

  COrderedPipeline(size_t nMaxItems, uint64_t qwMaxBytes)
      : m_nMaxItems(nMaxItems > 0 ? nMaxItems : 1), m_qwMaxBytes(qwMaxBytes) {}
  ~COrderedPipeline() {
    Cancel();
    for (std::thread& thread : m_vecThreads) thread.join();
  }
  COrderedPipeline(const COrderedPipeline&) = delete;
  COrderedPipeline& operator=(const COrderedPipeline&) = delete;

  // Starts the producer and nWorkers workers (at least one). Returns false,
  // with everything stopped again, when the producer or no worker could be
  // started; fewer workers than asked for are enough.
  bool Start(size_t nWorkers, Producer fnProduce, Worker fnWork) {
    m_fnWork = std::move(fnWork);
    for (size_t i = 0; i < (nWorkers > 0 ? nWorkers : 1); ++i) {
      if (!StartThread([this] { RunWorker(); })) break;
    }
    const bool bStarted = !m_vecThreads.empty() && StartThread([this, fnProduce] { RunProducer(fnProduce); });
    if (!bStarted) Cancel();
    return bStarted;
  }

  // Producer side: hands an item of qwBytes over, waiting while the window
  // is full. Returns false, dropping the item, once cancelled.
  bool Push(TItem&& item, uint64_t qwBytes) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cvSpace.wait(lock, [&] { return m_bCancelled || HasRoom(qwBytes); });
    if (m_bCancelled) return false;
    m_deqSlots.push_back(CSlot{std::move(item), qwBytes, false});
    m_qwBytes += qwBytes;
    m_cvWork.notify_one();
    return true;
  }

  // Consumer side: the oldest item once its work is done. Returns false
  // when the producer has finished and every item was taken, or once
  // cancelled.
  bool Pop(TItem& item) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cvDone.wait(lock, [&] {
      return m_bCancelled || (!m_deqSlots.empty() && m_deqSlots.front().bDone) ||
             (m_bClosed && m_deqSlots.empty());
    });
    if (m_bCancelled || m_deqSlots.empty()) return false;
    item = std::move(m_deqSlots.front().item);
    m_qwBytes -= m_deqSlots.front().qwBytes;
    m_deqSlots.pop_front();
    --m_nClaimed;  // the front slot was done, so it had been claimed
    m_cvSpace.notify_one();
    return true;
  }

  // Stops the run: waiting calls return false, workers finish the item in
  // hand and take no other, the producer's next Push fails.
  void Cancel() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bCancelled = true;
    m_cvSpace.notify_all();
    m_cvWork.notify_all();
    m_cvDone.notify_all();
  }

  // Items in flight right now (for tests).
  size_t InFlight() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_deqSlots.size();
  }

 private:
  struct CSlot {
    TItem item;
    uint64_t qwBytes;
    bool bDone;
  };

  bool HasRoom(uint64_t qwBytes) const {
    return m_deqSlots.empty() || (m_deqSlots.size() < m_nMaxItems && m_qwBytes + qwBytes <= m_qwMaxBytes);
  }

  template <typename TFn>
  bool StartThread(TFn fn) {
    try {
      m_vecThreads.emplace_back(std::move(fn));
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  }

  void RunProducer(const Producer& fnProduce) {
    fnProduce(*this);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bClosed = true;
    m_cvWork.notify_all();
    m_cvDone.notify_all();
  }

  // Slots are claimed front to back; a deque keeps a claimed slot's address
  // while others are added and taken, so the work runs outside the lock.
  void RunWorker() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
      m_cvWork.wait(lock, [&] { return m_bCancelled || m_bClosed || m_nClaimed < m_deqSlots.size(); });
      if (m_bCancelled) return;
      if (m_nClaimed == m_deqSlots.size()) return;  // closed, nothing left to claim
      CSlot& slot = m_deqSlots[m_nClaimed++];
      lock.unlock();
      m_fnWork(slot.item);
      lock.lock();
      slot.bDone = true;
      m_cvDone.notify_one();
    }
  }

  const size_t m_nMaxItems;
  const uint64_t m_qwMaxBytes;
  Worker m_fnWork;
  std::mutex m_mutex;
  std::condition_variable m_cvSpace;  // the producer waits for room
  std::condition_variable m_cvWork;   // workers wait for items
  std::condition_variable m_cvDone;   // the consumer waits for the oldest item
  std::deque<CSlot> m_deqSlots;       // in flight, oldest first
  size_t m_nClaimed = 0;              // slots at the front handed to workers
  uint64_t m_qwBytes = 0;
  bool m_bClosed = false;
  bool m_bCancelled = false;
  std::vector<std::thread> m_vecThreads;
};

// The number of workers for a pipeline: nRequested when it is above zero,
// else one per processor, at most kMaxPipelineWorkers.
constexpr size_t kMaxPipelineWorkers = 64;
inline size_t PipelineWorkerCount(int32_t nRequested) {
  if (nRequested > 0) return static_cast<size_t>(nRequested);
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const size_t nProcessors = info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
  return nProcessors < kMaxPipelineWorkers ? nProcessors : kMaxPipelineWorkers;
}
