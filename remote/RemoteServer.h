// SPDX-License-Identifier: GPL-3.0-or-later
// The SCPI socket server without an event loop of its own: the owner waits on Fds() in its
// poll loop (or with socket notifiers) and calls Process(), which never blocks and does a
// bounded amount of work per call, so the audio is never kept waiting.
#pragma once

#include <poll.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Instrument.h"
#include "ScpiSession.h"

namespace kelvane::remote {

inline constexpr int kDefaultPort = 5025;

struct ListenAddress {
  std::string host = "127.0.0.1";
  int port = kDefaultPort;
};

// "[ADDR:]PORT" (an IPv6 address in brackets: "[::1]:5025"). False with a one-line error.
bool ParseListenAddress(std::string_view text, ListenAddress& out, std::string& error);
// True for 127.0.0.0/8, ::1 and "localhost".
bool IsLoopbackHost(const std::string& host);
// The warning to print when listening elsewhere than on the loopback, or empty.
std::string ExposureWarning(const ListenAddress& address);

class RemoteServer {
 public:
  static constexpr std::size_t kMaxClients = 4;
  static constexpr std::size_t kMaxLine = 4096;  // bytes before the line end
  // Answers waiting for a client that does not read them; beyond this it is dropped.
  static constexpr std::size_t kMaxPendingOutput = 256 * 1024;
  static constexpr int kMaxLinesPerCall = 32;  // per client

  explicit RemoteServer(Instrument& instrument);
  ~RemoteServer();
  RemoteServer(const RemoteServer&) = delete;
  RemoteServer& operator=(const RemoteServer&) = delete;

  // False with a message naming the address, e.g. "port 5025 on 127.0.0.1 is in use".
  bool Listen(const ListenAddress& address, std::string& error);
  int Port() const { return port_; }  // the bound port (useful after port 0)

  // The descriptors to wait on and what for.
  std::vector<pollfd> Fds() const;
  // Accepts, reads, runs complete lines and writes answers, without waiting. True when more
  // input is left than one call takes (call again soon, without waiting).
  bool Process();
  std::size_t ClientCount() const { return clients_.size(); }
  // Called just before a client's descriptor is closed (a socket notifier must go first).
  std::function<void(int fd)> OnClosing;
  // Connections and drops as one line each (for a log or stderr); may be left unset.
  std::function<void(const std::string&)> OnEvent;

 private:
  struct Client;
  void Accept();
  bool Serve(Client& c);  // true: more to do
  void Flush(Client& c);
  void Close(std::size_t index);
  void Say(const std::string& text) const {
    if (OnEvent) OnEvent(text);
  }

  Instrument& instrument_;
  int listenFd_ = -1;
  int port_ = 0;
  std::vector<std::unique_ptr<Client>> clients_;
};

}  // namespace kelvane::remote
