// SPDX-License-Identifier: GPL-3.0-or-later
// The window's remote control: the SCPI server core driven by socket notifiers on the window
// thread, and the window as the instrument it controls (its controls are the settings).
#pragma once

#include <QObject>
#include <QPointer>
#include <map>
#include <string>

#include "Instrument.h"
#include "RemoteServer.h"

class QSocketNotifier;

namespace kelvane {

class TForm1;

class WindowInstrument final : public remote::Instrument {
 public:
  explicit WindowInstrument(TForm1& form) : form_(form) {}
  SettingsValues Settings() const override;
  bool ApplySettings(const SettingsValues& values, std::string& error) override;
  bool Output() const override;
  bool SetOutput(bool on, std::string& error) override;
  remote::Readings Measure() const override;
  std::string SettingsPath() const override;
  std::string Version() const override;
  float levelL = 0.0F, levelR = 0.0F;  // of the last captured block

 private:
  TForm1& form_;
};

class RemoteLink : public QObject {
 public:
  explicit RemoteLink(TForm1& form);
  ~RemoteLink() override;
  bool Listen(const remote::ListenAddress& address, std::string& error);
  int Port() const { return server_.Port(); }
  WindowInstrument& Instrument() { return instrument_; }

 private:
  void Serve();
  void Watch();  // one read and one write notifier per descriptor, as the server wants them
  void Forget(int fd);

  WindowInstrument instrument_;
  remote::RemoteServer server_;
  struct Notifiers {
    QSocketNotifier* read = nullptr;
    QSocketNotifier* write = nullptr;
  };
  std::map<int, Notifiers> notifiers_;
  bool serveQueued_ = false;
  bool serving_ = false;
};

}  // namespace kelvane
