// SPDX-License-Identifier: GPL-3.0-or-later
// A raw-socket SCPI client for tests, as PyVISA's SOCKET resource talks: lines out, one answer
// line back. The server runs on the test's own thread, so waiting turns a pump (the server's
// Process, or the Qt event loop) until the answer is there.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>

namespace kelvane::testing {

class ScpiClient {
 public:
  ScpiClient(int port, std::function<void()> pump) : pump_(std::move(pump)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    pollfd p{fd_, POLLOUT, 0};
    ::poll(&p, 1, 1000);
    pump_();
  }
  ~ScpiClient() { Close(); }
  ScpiClient(const ScpiClient&) = delete;
  ScpiClient& operator=(const ScpiClient&) = delete;
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int Fd() const { return fd_; }
  // Sends bytes as they are (no line end added).
  void SendRaw(const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
      if (n > 0) {
        at += static_cast<std::size_t>(n);
      } else {
        pump_();
      }
    }
    pump_();
  }
  void Send(const std::string& line) { SendRaw(line + "\n"); }
  // The next answer line without its line end; "<closed>" when the server closed the
  // connection, "<timeout>" after two seconds.
  std::string Line() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (;;) {
      const auto nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        return line;
      }
      if (std::chrono::steady_clock::now() > until) return "<timeout>";
      pump_();
      char chunk[4096];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
      if (n == 0) return "<closed>";
      if (n > 0) {
        buffer_.append(chunk, static_cast<std::size_t>(n));
      } else {
        pollfd p{fd_, POLLIN, 0};
        ::poll(&p, 1, 5);
      }
    }
  }
  std::string Query(const std::string& line) {
    Send(line);
    return Line();
  }

 private:
  int fd_ = -1;
  std::function<void()> pump_;
  std::string buffer_;
};

}  // namespace kelvane::testing
