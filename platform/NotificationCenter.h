#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The extra values a notification carries, by key. Values keep their C++ type.
using UserInfo = std::map<std::string, std::any>;

struct Notification {
  std::string name;
  std::optional<UserInfo> userInfo;

  bool has(const std::string& key) const { return userInfo && userInfo->count(key) != 0; }
  // The value under `key` if it is present AND of type T; nullptr when absent or of another type
  // (use has() to tell the two apart).
  template <class T>
  const T* value(const std::string& key) const {
    if (!userInfo) return nullptr;
    auto it = userInfo->find(key);
    return it == userInfo->end() ? nullptr : std::any_cast<T>(&it->second);
  }
};

// In-process notifications by name. post() calls the observers of that name synchronously on the
// posting thread, in the order they were added, over a snapshot taken when the post starts: an
// observer added meanwhile is not called for it; an observer removed meanwhile (by an earlier observer
// or another thread) is not called either. No lock is held while observers run, so they may post, add
// and remove observers. Thread-safe.
class NotificationCenter {
 public:
  using Observer = std::function<void(const Notification&)>;

  // Keeps an observation alive. Releasing (destroying, reassigning) or cancel()ing it ends the
  // observation; a token that outlives its center is harmless. Removal while the observer runs on
  // another thread does not wait for that call to finish.
  class Token {
   public:
    Token() = default;
    Token(Token&& other) noexcept = default;
    Token& operator=(Token&& other) noexcept {
      if (this != &other) {
        cancel();
        entry_ = std::move(other.entry_);
      }
      return *this;
    }
    Token(const Token&) = delete;
    Token& operator=(const Token&) = delete;
    ~Token() { cancel(); }

    void cancel();
    bool isActive() const;

   private:
    friend class NotificationCenter;
    struct Entry;
    explicit Token(std::shared_ptr<Entry> entry) : entry_(std::move(entry)) {}
    std::shared_ptr<Entry> entry_;
  };

  NotificationCenter();
  ~NotificationCenter();
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  [[nodiscard]] Token addObserver(std::string name, Observer observer);
  void post(const Notification& notification);
  void post(std::string name, std::optional<UserInfo> userInfo = std::nullopt);

  // The process-wide center (never destroyed).
  static NotificationCenter& defaultCenter();

 private:
  struct Registry;
  std::shared_ptr<Registry> registry_;
};

}  // namespace platform
