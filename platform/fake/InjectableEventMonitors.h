#pragma once

#include <cstddef>
#include <map>
#include <set>

#include "platform/EventMonitors.h"

namespace platform::fake {

// Event monitors that see only the events the test injects. refuse() makes the system decline
// monitors of one kind (global or local).
class InjectableEventMonitors final : public EventMonitors {
 public:
  std::optional<Token> addGlobalMonitor(MonitoredEventMask mask, GlobalHandler handler) override;
  std::optional<Token> addLocalMonitor(MonitoredEventMask mask, LocalHandler handler) override;
  void removeMonitor(Token token) override;

  // An event going to another application: every global monitor whose mask holds its type sees it.
  void sendToOtherApplication(const MonitoredEvent& event);
  // An event going to this application: local monitors whose mask holds its type see it in the order
  // they were added, until one swallows it. Returns whether it got through to its window.
  bool sendToThisApplication(const MonitoredEvent& event);

  void refuseGlobal(bool refuse) { refuseGlobal_ = refuse; }
  void refuseLocal(bool refuse) { refuseLocal_ = refuse; }

  std::size_t globalCount() const { return global_.size(); }
  std::size_t localCount() const { return local_.size(); }
  // Tokens given to removeMonitor() that were not installed (or already removed).
  std::size_t unknownRemovals() const { return unknownRemovals_; }

 private:
  template <class H>
  struct Entry {
    MonitoredEventMask mask;
    H handler;
  };
  Token next_ = 1;
  std::map<Token, Entry<GlobalHandler>> global_;
  std::map<Token, Entry<LocalHandler>> local_;
  bool refuseGlobal_ = false;
  bool refuseLocal_ = false;
  std::size_t unknownRemovals_ = 0;
};

}  // namespace platform::fake
