#pragma once

// A list that writers change under a lock and that readers walk without one, so that a crash handler
// can read it whatever the interrupted threads were doing.
//
// Readers bracket a walk with set_reading(true) / set_reading(false) and follow next() to the end.
// A node unlinked while anyone reads is parked, never freed, and keeps its forward link, so a reader
// standing on it walks on into the live list. Parked nodes are reused only when nobody reads.

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>

namespace dzcrash::async {

template <typename T>
class async_list {
 public:
  class node {
   public:
    T value() const { return value_; }

   private:
    friend class async_list;
    T value_{};
    node* prev_ = nullptr;
    std::atomic<node*> next_{nullptr};
    // The free-list link is separate from next_ so that parking a node does not redirect a reader.
    node* free_next_ = nullptr;
  };

  async_list() = default;
  ~async_list() {
    freeChain(head_.load());
    while (free_ != nullptr) {
      node* n = free_;
      free_ = n->free_next_;
      destroy(n);
    }
  }
  async_list(const async_list&) = delete;
  async_list& operator=(const async_list&) = delete;

  // Not async-signal-safe: locks and may allocate. False when no node could be allocated.
  bool nasync_append(T value) { return insert(value, false); }
  bool nasync_prepend(T value) { return insert(value, true); }

  // Unlinks the node when it is in the list (true); a node that is not is left alone (false).
  // Not async-signal-safe.
  bool nasync_remove_node(node* target) {
    std::lock_guard<std::mutex> guard(writeLock_);
    node* found = head_.load();
    while (found != nullptr && found != target) found = found->next_.load();
    if (found == nullptr) return false;

    node* next = found->next_.load();
    if (found->prev_ == nullptr) {
      node* expected = found;
      head_.compare_exchange_strong(expected, next);
    } else {
      node* expected = found;
      found->prev_->next_.compare_exchange_strong(expected, next);
    }
    if (next != nullptr) {
      next->prev_ = found->prev_;
    } else {
      tail_ = found->prev_;
    }

    // Sequentially consistent with set_reading(): a reader that counted itself in after this load
    // starts from a head that no longer leads to the node.
    if (readers_.load() < 1) {
      destroy(found);
    } else {
      found->prev_ = nullptr;
      found->free_next_ = free_;
      free_ = found;
    }
    return true;
  }

  // Counts a reader in or out. async-signal-safe.
  void set_reading(bool enable) {
    if (enable) {
      readers_.fetch_add(1);
    } else {
      readers_.fetch_sub(1);
    }
  }

  // The first node (current == null) or the one after `current`; null at the end. Call only between
  // set_reading(true) and set_reading(false). async-signal-safe.
  node* next(node* current) const { return current == nullptr ? head_.load() : current->next_.load(); }

 private:
  static node* create() {
    void* memory = std::malloc(sizeof(node));
    if (memory == nullptr) return nullptr;
    return new (memory) node();
  }
  static void destroy(node* n) {
    n->~node();
    std::free(n);
  }
  static void freeChain(node* n) {
    while (n != nullptr) {
      node* following = n->next_.load();
      destroy(n);
      n = following;
    }
  }

  bool insert(T value, bool front) {
    std::lock_guard<std::mutex> guard(writeLock_);
    node* n = nullptr;
    // A parked node may still have a reader standing on it; rewrite it only when nobody reads.
    if (free_ != nullptr && readers_.load() < 1) {
      n = free_;
      free_ = n->free_next_;
      n->free_next_ = nullptr;
    } else {
      n = create();
      if (n == nullptr) return false;
    }
    n->value_ = value;
    n->prev_ = nullptr;
    n->next_.store(nullptr);
    // The sequentially consistent store or compare-and-swap that links the node publishes the writes
    // above to readers (a release paired with their loads), so no separate fence is needed.

    node* head = head_.load();
    if (head == nullptr) {
      tail_ = n;
      node* expected = nullptr;
      head_.compare_exchange_strong(expected, n);
    } else if (front) {
      n->next_.store(head);
      head->prev_ = n;
      head_.compare_exchange_strong(head, n);
    } else {
      node* expected = nullptr;
      tail_->next_.compare_exchange_strong(expected, n);
      n->prev_ = tail_;
      tail_ = n;
    }
    return true;
  }

  std::mutex writeLock_;
  std::atomic<node*> head_{nullptr};
  node* tail_ = nullptr;
  node* free_ = nullptr;
  std::atomic<int32_t> readers_{0};
};

}  // namespace dzcrash::async
