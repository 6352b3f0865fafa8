// SPDX-License-Identifier: GPL-3.0-or-later
// TCP listening, the client slots, line assembly with its limits, and non-blocking writes.
#include "RemoteServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace kelvane::remote {
namespace {

using Clock = std::chrono::steady_clock;
// A client silent this long may lose its slot to a new one when all are taken: a peer that
// vanished without closing (a half-open connection) must not lock the bench out.
constexpr auto kIdleEvictable = std::chrono::seconds(30);
constexpr std::size_t kReadChunk = 16384;
constexpr std::size_t kMaxBufferedInput = 65536;

void SetOption(int fd, int level, int name, int value) {
  ::setsockopt(fd, level, name, &value, sizeof value);
}

std::string PeerName(const sockaddr_storage& a) {
  char host[INET6_ADDRSTRLEN] = "?";
  int port = 0;
  if (a.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&a);
    ::inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
    port = ntohs(in->sin_port);
  } else if (a.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&a);
    ::inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
    port = ntohs(in6->sin6_port);
  }
  return std::string(host) + ":" + std::to_string(port);
}

}  // namespace

struct RemoteServer::Client {
  Client(int f, Instrument& instrument, std::string name)
      : fd(f), session(instrument), peer(std::move(name)) {}
  int fd;
  ScpiSession session;
  std::string peer;
  std::string in, out;
  bool eof = false;      // the peer will send no more
  bool closing = false;  // close once `out` is written
  bool dead = false;     // close now
  Clock::time_point lastHeard = Clock::now();
};

bool ParseListenAddress(std::string_view text, ListenAddress& out, std::string& error) {
  ListenAddress a;
  std::string_view port = text;
  if (!text.empty() && text.front() == '[') {
    const auto close = text.find(']');
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      error = "'" + std::string(text) + "': expected [ADDRESS]:PORT for an IPv6 address";
      return false;
    }
    a.host = std::string(text.substr(1, close - 1));
    port = text.substr(close + 2);
  } else if (const auto colon = text.rfind(':'); colon != std::string_view::npos) {
    a.host = std::string(text.substr(0, colon));
    port = text.substr(colon + 1);
    if (a.host.empty() || a.host.find(':') != std::string::npos) {
      error = "'" + std::string(text) + "': expected [ADDRESS:]PORT (IPv6 in brackets)";
      return false;
    }
  }
  int p = -1;
  const bool digits = !port.empty() && port.size() <= 5 &&
                      port.find_first_not_of("0123456789") == std::string_view::npos;
  if (digits) p = std::stoi(std::string(port));
  if (p < 1 || p > 65535) {
    error = "'" + std::string(text) + "': the port must be a number 1 .. 65535 (SCPI uses 5025)";
    return false;
  }
  a.port = p;
  out = a;
  return true;
}

bool IsLoopbackHost(const std::string& host) {
  if (host == "localhost" || host == "::1") return true;
  in_addr v4{};
  return ::inet_pton(AF_INET, host.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127;
}

std::string ExposureWarning(const ListenAddress& address) {
  if (IsLoopbackHost(address.host)) return {};
  return "warning: remote control listens on " + address.host + " port " +
         std::to_string(address.port) +
         " without any password: anyone on that network can change the settings and transmit "
         "with this modulator";
}

RemoteServer::RemoteServer(Instrument& instrument) : instrument_(instrument) {}

RemoteServer::~RemoteServer() {
  while (!clients_.empty()) Close(clients_.size() - 1);
  if (listenFd_ >= 0) ::close(listenFd_);
}

bool RemoteServer::Listen(const ListenAddress& address, std::string& error) {
  const std::string where = address.host + " port " + std::to_string(address.port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(address.port);
  if (const int rc = ::getaddrinfo(address.host.c_str(), service.c_str(), &hints, &found); rc) {
    error = "cannot listen on " + where + ": " + ::gai_strerror(rc);
    return false;
  }
  int fd = -1;
  int lastErrno = 0;
  for (addrinfo* ai = found; ai != nullptr && fd < 0; ai = ai->ai_next) {
    fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      lastErrno = errno;
      continue;
    }
    SetOption(fd, SOL_SOCKET, SO_REUSEADDR, 1);  // a restart need not wait out TIME_WAIT
    if (::bind(fd, ai->ai_addr, ai->ai_addrlen) != 0 || ::listen(fd, 8) != 0) {
      lastErrno = errno;
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(found);
  if (fd < 0) {
    if (lastErrno == EADDRINUSE) {
      error = "cannot listen on " + where +
              ": the port is in use (another program or Kelvane "
              "listens there); choose another port";
    } else if (lastErrno == EACCES) {
      error = "cannot listen on " + where + ": ports below 1024 need privileges; use 5025";
    } else if (lastErrno == EADDRNOTAVAIL) {
      error = "cannot listen on " + where + ": no network interface of this computer has it";
    } else {
      error = "cannot listen on " + where + ": " + std::strerror(lastErrno);
    }
    return false;
  }
  sockaddr_storage bound{};
  socklen_t len = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
  port_ = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                      : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  if (listenFd_ >= 0) ::close(listenFd_);
  listenFd_ = fd;
  return true;
}

std::vector<pollfd> RemoteServer::Fds() const {
  std::vector<pollfd> fds;
  if (listenFd_ >= 0) fds.push_back({listenFd_, POLLIN, 0});
  for (const auto& c : clients_) {
    short events = 0;
    if (!c->eof && !c->closing && c->in.size() < kMaxBufferedInput) events |= POLLIN;
    if (!c->out.empty()) events |= POLLOUT;
    fds.push_back({c->fd, events, 0});
  }
  return fds;
}

void RemoteServer::Accept() {
  for (int n = 0; n < 8; ++n) {
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    const int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &len,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    SetOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    // A peer that vanished is found by keep-alive probes, or by unacknowledged answers.
    SetOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
    SetOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, 30);
    SetOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, 5);
    SetOption(fd, IPPROTO_TCP, TCP_KEEPCNT, 3);
    SetOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, 15000);
    if (clients_.size() >= kMaxClients) {
      // The longest silent client gives way if it has been silent long; else the newcomer.
      std::size_t idlest = 0;
      for (std::size_t i = 1; i < clients_.size(); ++i) {
        if (clients_[i]->lastHeard < clients_[idlest]->lastHeard) idlest = i;
      }
      if (Clock::now() - clients_[idlest]->lastHeard >= kIdleEvictable) {
        Say("remote: " + clients_[idlest]->peer + " silent too long, its slot goes to " +
            PeerName(peer));
        Close(idlest);
      } else {
        static constexpr char kBusy[] =
            "-310,\"System error;all 4 remote connections are in use\"\n";
        (void)::send(fd, kBusy, sizeof kBusy - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(fd);
        Say("remote: refused " + PeerName(peer) + ": all 4 connections are in use");
        continue;
      }
    }
    clients_.push_back(std::make_unique<Client>(fd, instrument_, PeerName(peer)));
    Say("remote: " + clients_.back()->peer + " connected");
  }
}

void RemoteServer::Flush(Client& c) {
  while (!c.out.empty()) {
    const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      c.out.erase(0, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) break;
    c.dead = true;  // reset or closed by the peer
    c.out.clear();
    return;
  }
  if (c.out.size() > kMaxPendingOutput) {
    Say("remote: " + c.peer + " does not read its answers; disconnected");
    c.dead = true;
  }
  if (c.closing && c.out.empty()) c.dead = true;
}

bool RemoteServer::Serve(Client& c) {
  char buffer[kReadChunk];
  while (!c.eof && !c.closing && c.in.size() < kMaxBufferedInput) {
    const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) {
      c.in.append(buffer, static_cast<std::size_t>(n));
      c.lastHeard = Clock::now();
      continue;
    }
    if (n == 0) {
      c.eof = true;  // half-closed: answer what came, then close
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      c.dead = true;
      return false;
    }
    break;
  }
  std::size_t at = 0;
  int lines = 0;
  bool more = false;
  while (!c.closing) {
    const std::size_t end = c.in.find('\n', at);
    const std::size_t length = (end == std::string::npos ? c.in.size() : end) - at;
    if (length > kMaxLine) {
      c.out += "-363,\"Input buffer overrun;a line longer than 4096 bytes, connection closed\"\n";
      Say("remote: " + c.peer + " sent a line longer than 4096 bytes; disconnected");
      c.closing = true;
      break;
    }
    if (end == std::string::npos) break;
    if (lines == kMaxLinesPerCall) {
      more = true;
      break;
    }
    c.out += c.session.Execute(std::string_view(c.in).substr(at, length));
    at = end + 1;
    ++lines;
  }
  c.in.erase(0, at);
  if (c.eof && !more && !c.closing) {
    c.closing = true;  // a last line without its line end is not run
  }
  Flush(c);
  return more;
}

void RemoteServer::Close(std::size_t index) {
  Client& c = *clients_[index];
  if (OnClosing) OnClosing(c.fd);
  ::close(c.fd);
  clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(index));
}

bool RemoteServer::Process() {
  if (listenFd_ >= 0) Accept();
  bool more = false;
  for (std::size_t i = 0; i < clients_.size();) {
    Client& c = *clients_[i];
    more = Serve(c) || more;
    if (c.dead) {
      if (!c.closing || c.eof) Say("remote: " + c.peer + " disconnected");  // flooding told
      Close(i);
      continue;
    }
    ++i;
  }
  return more;
}

}  // namespace kelvane::remote
