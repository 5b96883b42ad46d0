#pragma once

namespace quorvelle {

// Ends the program the way "Quit Quorvelle" does when it is asked to stop by a signal (SIGTERM from a
// session or service manager, SIGINT from a terminal, SIGHUP when its terminal goes): the event loop
// returns and everything is torn down in order, the clipboard's hand-over to the desktop's clipboard
// manager included. Killed outright instead, the program would take the clipboard it owns with it.
//
// Construct it first thing in main(), before any thread starts (threads inherit the blocked signals,
// so only this object receives them); call listen() once the QApplication exists. Main thread only.
class QuitSignals {
 public:
  QuitSignals();
  ~QuitSignals();
  QuitSignals(const QuitSignals&) = delete;
  QuitSignals& operator=(const QuitSignals&) = delete;

  void listen();

 private:
  int fd_ = -1;
};

}  // namespace quorvelle
