// A tiny HTTP/1.1 responder on 127.0.0.1 for tests of the server-access code: it records every
// request byte for byte and answers each from a handler, one request per connection.
#pragma once
#include <winsock2.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace riztest {

struct Received {
  std::string method;
  std::string path;
  std::string head;  // request line and header lines, each ending in CR LF, without the blank line
  std::string body;
  std::string header(const std::string& name) const;  // value of the first such header, or ""
};

struct Canned {
  int status = 200;
  std::string body;
  std::string extraHeaders;  // complete lines, each ending in CR LF
};

struct Loopback {
  using Handler = std::function<Canned(const Received&)>;
  explicit Loopback(Handler handler);
  ~Loopback();
  Loopback(const Loopback&) = delete;
  Loopback& operator=(const Loopback&) = delete;

  std::wstring url(const std::string& path) const;
  std::vector<Received> requests() const;
  size_t countTo(const std::string& path) const;

  unsigned short port = 0;

 private:
  void serve();
  void answer(SOCKET client);

  Handler handler_;
  SOCKET listener_ = INVALID_SOCKET;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<Received> requests_;
  std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens (bound, then released).
unsigned short unusedPort();

}  // namespace riztest
