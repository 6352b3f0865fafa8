// SPDX-License-Identifier: GPL-3.0-or-later
// The window as a remote-controlled instrument, and its SCPI server on the window thread.
#include <QLabel>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <stdexcept>

#include "CLEDLbl.h"
#include "KelvaneVersion.h"
#include "MainWindow.h"
#include "RemoteLink.h"
#include "SettingsFile.h"

namespace kelvane {

SettingsValues WindowInstrument::Settings() const {
  return form_.CurrentSettingsValues();
}

bool WindowInstrument::ApplySettings(const SettingsValues& values, std::string& /*error*/) {
  form_.ShowSettingsValues(values);
  return true;
}

bool WindowInstrument::Output() const {
  return form_.IsRunning();
}

bool WindowInstrument::SetOutput(bool on, std::string& error) {
  if (on == form_.IsRunning()) return true;
  if (!on) {
    form_.AudioStop();
    return true;
  }
  try {
    form_.AudioStart();
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  if (!form_.IsRunning() || !form_.AudioOut1().DeviceOpen()) {
    error = form_.LastNotice().isEmpty() ? std::string("the output did not start")
                                         : form_.LastNotice().toStdString();
    return false;
  }
  return true;
}

remote::Readings WindowInstrument::Measure() const {
  remote::Readings r;
  r.deviation_kHz = form_.CLEDLabel1->text().trimmed().toStdString();
  const MeterReadout& power = form_.Engine().PowerReadout();
  r.power_dBr = power.text;
  r.powerFinal = power.green;
  r.levelL = levelL;
  r.levelR = levelR;
  return r;
}

std::string WindowInstrument::SettingsPath() const {
  return form_.SettingsPath();
}

std::string WindowInstrument::Version() const {
  return kProgramVersion;
}

RemoteLink::RemoteLink(TForm1& form) : instrument_(form), server_(instrument_) {
  server_.OnClosing = [this](int fd) { Forget(fd); };
  server_.OnEvent = [](const std::string& text) {
    std::fprintf(stderr, "kelvane: %s\n", text.c_str());
  };
}

RemoteLink::~RemoteLink() {
  // The notifiers go before the server closes their descriptors.
  server_.OnClosing = nullptr;
  for (auto& [fd, n] : notifiers_) {
    delete n.read;
    delete n.write;
  }
}

bool RemoteLink::Listen(const remote::ListenAddress& address, std::string& error) {
  if (!server_.Listen(address, error)) return false;
  Watch();
  return true;
}

void RemoteLink::Forget(int fd) {
  const auto it = notifiers_.find(fd);
  if (it == notifiers_.end()) return;
  // The notifier may be the one whose signal is running: it goes once the loop is back.
  for (QSocketNotifier* n : {it->second.read, it->second.write}) {
    n->setEnabled(false);
    n->deleteLater();
  }
  notifiers_.erase(it);
}

void RemoteLink::Watch() {
  for (const pollfd& p : server_.Fds()) {
    Notifiers& n = notifiers_[p.fd];
    if (n.read == nullptr) {
      n.read = new QSocketNotifier(p.fd, QSocketNotifier::Read, this);
      n.write = new QSocketNotifier(p.fd, QSocketNotifier::Write, this);
      connect(n.read, &QSocketNotifier::activated, this, [this] { Serve(); });
      connect(n.write, &QSocketNotifier::activated, this, [this] { Serve(); });
    }
    n.read->setEnabled((p.events & POLLIN) != 0);
    n.write->setEnabled((p.events & POLLOUT) != 0);
  }
}

void RemoteLink::Serve() {
  serveQueued_ = false;
  // A command may wait in a nested event loop (the box that confirms transmitting on an SDR):
  // the server is not entered again meanwhile, and its sockets stay quiet until it returns.
  if (serving_) return;
  serving_ = true;
  for (auto& [fd, n] : notifiers_) {
    n.read->setEnabled(false);
    n.write->setEnabled(false);
  }
  // Bounded work per call; what is left is served after the window's other events (the
  // engine's buffer notices among them).
  const bool more = server_.Process();
  serving_ = false;
  if (more && !serveQueued_) {
    serveQueued_ = true;
    QTimer::singleShot(0, this, [this] { Serve(); });
  }
  Watch();
}

bool TForm1::StartRemote(const remote::ListenAddress& address, std::string& error) {
  auto link = std::make_unique<RemoteLink>(*this);
  if (!link->Listen(address, error)) return false;
  remote_ = std::move(link);
  // The level bar's values are kept for MEASure:LEVel? as well.
  auto show = run_.OnInputLevels;
  run_.OnInputLevels = [this, show](float left, float right) {
    if (show) show(left, right);
    remote_->Instrument().levelL = left;
    remote_->Instrument().levelR = right;
  };
  return true;
}

int TForm1::RemotePortListening() const {
  return remote_ ? remote_->Port() : 0;
}

}  // namespace kelvane
