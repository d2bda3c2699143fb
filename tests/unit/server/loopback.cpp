#include "server/loopback.h"

#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>

namespace riztest {
namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

bool sendAll(SOCKET s, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    const int chunk = static_cast<int>(std::min<size_t>(data.size() - sent, 65536));
    const int n = send(s, data.data() + sent, chunk, 0);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

SOCKET listenOnLoopback(unsigned short& port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  int len = sizeof(addr);
  getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  port = ntohs(addr.sin_port);
  return s;
}

}  // namespace

std::string Received::header(const std::string& name) const {
  const std::string wanted = "\r\n" + lower(name) + ":";
  const std::string text = lower(head) + "\r\n";
  const size_t at = text.find(wanted);
  if (at == std::string::npos) return {};
  size_t from = at + wanted.size();
  while (from < head.size() && head[from] == ' ') ++from;
  const size_t end = head.find("\r\n", from);
  return head.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

Loopback::Loopback(Handler handler) : handler_(std::move(handler)) {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  listener_ = listenOnLoopback(port);
  listen(listener_, 16);
  thread_ = std::thread([this] { serve(); });
}

Loopback::~Loopback() {
  stop_ = true;
  thread_.join();
  closesocket(listener_);
  WSACleanup();
}

std::wstring Loopback::url(const std::string& path) const {
  return L"http://127.0.0.1:" + std::to_wstring(port) + std::wstring(path.begin(), path.end());
}

std::vector<Received> Loopback::requests() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return requests_;
}

size_t Loopback::countTo(const std::string& path) const {
  size_t n = 0;
  for (const Received& r : requests()) n += r.path == path ? 1 : 0;
  return n;
}

void Loopback::serve() {
  while (!stop_) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener_, &readable);
    timeval wait{0, 20000};
    if (select(0, &readable, nullptr, nullptr, &wait) <= 0) continue;
    SOCKET client = accept(listener_, nullptr, nullptr);
    if (client == INVALID_SOCKET) continue;
    answer(client);
    closesocket(client);
  }
}

void Loopback::answer(SOCKET client) {
  std::string data;
  char buf[65536];
  size_t headEnd;
  while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
    const int n = recv(client, buf, sizeof(buf), 0);
    if (n <= 0) return;
    data.append(buf, static_cast<size_t>(n));
  }
  Received r;
  r.head = data.substr(0, headEnd + 2);
  const size_t sp1 = r.head.find(' ');
  const size_t sp2 = r.head.find(' ', sp1 + 1);
  r.method = r.head.substr(0, sp1);
  r.path = r.head.substr(sp1 + 1, sp2 - sp1 - 1);
  const size_t length =
      static_cast<size_t>(strtoull(r.header("Content-Length").c_str(), nullptr, 10));
  r.body = data.substr(headEnd + 4);
  while (r.body.size() < length) {
    const int n = recv(client, buf, sizeof(buf), 0);
    if (n <= 0) return;
    r.body.append(buf, static_cast<size_t>(n));
  }
  {
    std::lock_guard<std::mutex> guard(mutex_);
    requests_.push_back(r);
  }
  const Canned reply = handler_(r);
  char statusLine[64];
  snprintf(statusLine, sizeof(statusLine), "HTTP/1.1 %d Canned\r\n", reply.status);
  std::string out = statusLine;
  out += "Content-Type: application/json\r\nConnection: close\r\nContent-Length: " +
         std::to_string(reply.body.size()) + "\r\n" + reply.extraHeaders + "\r\n" + reply.body;
  sendAll(client, out);
  shutdown(client, SD_SEND);
  // Let the client read to the end before the socket goes away.
  while (recv(client, buf, sizeof(buf), 0) > 0) {
  }
}

unsigned short unusedPort() {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  unsigned short port = 0;
  closesocket(listenOnLoopback(port));
  WSACleanup();
  return port;
}

}  // namespace riztest
