// A CDDB server on the loopback interface for tests: canned replies, or a
// server that stays silent, closes early or never stops sending.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "disc/cddb.h"

namespace tamber::disc {

// Answers every connection after its request: the reply for the request's
// command, else the default reply, then closes; or one of the special
// behaviours. What it answers is set between requests through answer().
class LoopbackServer {
 public:
  enum class Mode { reply, silent, closeEarly, endless, trickle };
  // The default reply (and how it is given), and replies by command
  // ("cddb+query", "cddb+read", "sites") that come before it.
  void answer(std::string reply, Mode mode = Mode::reply,
              std::vector<std::pair<std::string, std::string>> byCommand = {}) {
    std::lock_guard<std::mutex> l(m_);
    reply_ = std::move(reply);
    mode_ = mode;
    replies_ = std::move(byCommand);
  }

  LoopbackServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Any test using it would fail without it: better to stop at once.
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::abort();
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    ::listen(fd_, 8);
    thread_ = std::thread([this] { serve(); });
  }
  ~LoopbackServer() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }
  int port() const { return port_; }
  std::string lastRequest() {
    std::lock_guard<std::mutex> l(m_);
    return request_;
  }
  // How many requests came in.
  int requests() {
    std::lock_guard<std::mutex> l(m_);
    return requests_;
  }
  CddbSite site() const {
    CddbSite s;
    s.host = "127.0.0.1";
    s.port = port_;
    return s;
  }

 private:
  void serve() {
    while (!stop_) {
      int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      std::string req;
      char buf[4096];
      while (req.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = ::recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        req.append(buf, static_cast<size_t>(n));
      }
      Mode mode;
      std::string reply;
      std::vector<std::pair<std::string, std::string>> replies;
      {
        std::lock_guard<std::mutex> l(m_);
        request_ = req;
        ++requests_;
        mode = mode_;
        reply = reply_;
        replies = replies_;
      }
      std::string head = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";
      switch (mode) {
        case Mode::reply: {
          std::string text = reply;
          for (const auto& [command, answer] : replies) {
            if (req.find("cmd=" + command) != std::string::npos) {
              text = answer;
              break;
            }
          }
          send(c, head + text);
          break;
        }
        case Mode::silent:
          // Nothing more until the client gives up and closes.
          send(c, head);
          while (!stop_ && ::recv(c, buf, sizeof buf, 0) > 0) {
          }
          break;
        case Mode::closeEarly:
          send(c, head + reply.substr(0, reply.size() / 2));
          break;
        case Mode::trickle: {
          // One byte every 300 ms, without end: never idle long enough for
          // the idle time-out.
          send(c, head + "210 OK, list follows\r\n");
          while (!stop_ && ::send(c, "x", 1, MSG_NOSIGNAL) > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
          }
          break;
        }
        case Mode::endless: {
          send(c, head + "210 OK, list follows\r\n");
          std::string line(4096, 'x');
          line += "\r\n";
          while (!stop_ && ::send(c, line.data(), line.size(), MSG_NOSIGNAL) > 0) {
          }
          break;
        }
      }
      ::close(c);
    }
  }
  static void send(int c, const std::string& s) { (void)::send(c, s.data(), s.size(), MSG_NOSIGNAL); }

  int fd_ = -1, port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex m_;
  std::string request_;
  int requests_ = 0;
  Mode mode_ = Mode::reply;
  std::string reply_;
  std::vector<std::pair<std::string, std::string>> replies_;
};

}  // namespace tamber::disc
