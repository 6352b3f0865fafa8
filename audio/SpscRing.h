// SPDX-License-Identifier: GPL-3.0-or-later
// Lock-free single-producer single-consumer ring of trivially copyable items (audio hand-off).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <type_traits>

namespace kelvane {

// One thread pushes, one other thread pops; neither ever blocks or allocates. The release store
// of a push makes everything the producer wrote before it (e.g. a buffer's samples) visible to
// the consumer that pops the item.
template <typename T, std::size_t N>
class SpscRing {
  static_assert(std::is_trivially_copyable_v<T>);
  static_assert(N > 0 && (N & (N - 1)) == 0, "capacity must be a power of two");

 public:
  bool Push(const T& item) {
    const std::size_t tail = tail_.load(std::memory_order_relaxed);
    if (tail - head_.load(std::memory_order_acquire) == N) return false;
    items_[tail & (N - 1)] = item;
    tail_.store(tail + 1, std::memory_order_release);
    return true;
  }

  bool Pop(T& item) {
    const std::size_t head = head_.load(std::memory_order_relaxed);
    if (head == tail_.load(std::memory_order_acquire)) return false;
    item = items_[head & (N - 1)];
    head_.store(head + 1, std::memory_order_release);
    return true;
  }

  // Exact only when called by one of the two sides while the other is idle.
  std::size_t Size() const {
    return tail_.load(std::memory_order_acquire) - head_.load(std::memory_order_acquire);
  }
  static constexpr std::size_t Capacity() { return N; }

 private:
  std::array<T, N> items_{};
  alignas(64) std::atomic<std::size_t> head_{0};
  alignas(64) std::atomic<std::size_t> tail_{0};
};

}  // namespace kelvane
