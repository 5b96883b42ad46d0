#include "tests/support/http/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <stdexcept>

namespace quorvelle::test {
namespace {

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

const char* reasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

bool sendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

}  // namespace

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (sameName(key, name)) return value;
  }
  return std::nullopt;
}

std::optional<std::string> RecordedRequest::queryValue(std::string_view name) const {
  std::string_view rest = query;
  while (!rest.empty()) {
    const auto amp = rest.find('&');
    const std::string_view item = rest.substr(0, amp);
    const auto eq = item.find('=');
    if (percentDecode(item.substr(0, eq)) == name) {
      return eq == std::string_view::npos ? std::string() : percentDecode(item.substr(eq + 1));
    }
    if (amp == std::string_view::npos) break;
    rest.remove_prefix(amp + 1);
  }
  return std::nullopt;
}

std::string percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out.push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

ScriptedReply ScriptedReply::json(std::string body, int status) {
  ScriptedReply reply;
  reply.status = status;
  reply.headers = {{"Content-Type", "application/json"}};
  reply.body = std::move(body);
  return reply;
}

struct LoopbackHttpServer::Connection {
  int fd = -1;
  std::thread thread;
  std::atomic<bool> done{false};
};

LoopbackHttpServer::LoopbackHttpServer(Handler handler, std::uint16_t port) : handler_(std::move(handler)) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw std::runtime_error("socket() failed");
  const int yes = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 64) != 0) {
    const std::string reason = std::strerror(errno);
    ::close(listenFd_);
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + reason);
  }
  socklen_t length = sizeof address;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  if (::pipe2(wakePipe_, O_CLOEXEC) != 0) {
    ::close(listenFd_);
    throw std::runtime_error("pipe2() failed");
  }
  acceptor_ = std::thread([this] { acceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
  stop();
}

std::string LoopbackHttpServer::baseURL() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

std::string LoopbackHttpServer::closedBaseURL() {
  // Never released: the port refuses connections until the process ends.
  static const RefusingPort* const refusing = new RefusingPort;
  return refusing->baseURL();
}

RefusingPort::RefusingPort() {
  // Without SO_REUSEADDR, which every listening server here sets: no such server can bind the port, nor is
  // it handed out to one that asks for any port.
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error("socket() failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = 0;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const std::string reason = std::strerror(errno);
    ::close(fd_);
    throw std::runtime_error("cannot bind a port on 127.0.0.1: " + reason);
  }
  port_ = ntohs(address.sin_port);
}

RefusingPort::~RefusingPort() {
  release();
}

std::string RefusingPort::baseURL() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

void RefusingPort::release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void LoopbackHttpServer::enqueue(ScriptedReply reply) {
  std::lock_guard lock(mutex_);
  script_.push_back(std::move(reply));
}

void LoopbackHttpServer::setHandler(Handler handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

std::vector<RecordedRequest> LoopbackHttpServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

bool LoopbackHttpServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void LoopbackHttpServer::stop() {
  std::vector<std::unique_ptr<Connection>> connections;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  changed_.notify_all();
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(wakePipe_[1], &byte, 1);
  acceptor_.join();
  {
    std::lock_guard lock(mutex_);
    connections.swap(connections_);
    for (auto& connection : connections) ::shutdown(connection->fd, SHUT_RDWR);
  }
  for (auto& connection : connections) connection->thread.join();
  ::close(listenFd_);
  ::close(wakePipe_[0]);
  ::close(wakePipe_[1]);
}

void LoopbackHttpServer::acceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);

    std::lock_guard lock(mutex_);
    if (stopping_) {
      ::close(fd);
      return;
    }
    // Join connections that have ended, so a long-running server does not collect threads.
    std::erase_if(connections_, [](std::unique_ptr<Connection>& c) {
      if (!c->done.load()) return false;
      c->thread.join();
      return true;
    });
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    Connection* raw = connection.get();
    connection->thread = std::thread([this, raw, number = ++accepted_] {
      serve(raw->fd, number);
      {
        // Closed under the lock so that stop() never shuts down a descriptor number already reused.
        std::lock_guard closeLock(mutex_);
        ::close(raw->fd);
        raw->fd = -1;
      }
      raw->done = true;
    });
    connections_.push_back(std::move(connection));
  }
}

bool LoopbackHttpServer::waitUnlessStopping(std::optional<std::chrono::milliseconds> delay) {
  std::unique_lock lock(mutex_);
  if (delay) return !changed_.wait_for(lock, *delay, [&] { return stopping_; });
  changed_.wait(lock, [&] { return stopping_; });
  return false;
}

ScriptedReply LoopbackHttpServer::replyFor(const RecordedRequest& request) {
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    if (!script_.empty()) {
      ScriptedReply reply = std::move(script_.front());
      script_.pop_front();
      return reply;
    }
    handler = handler_;
  }
  if (handler) return handler(request);
  ScriptedReply notFound;
  notFound.status = 404;
  notFound.body = "not found";
  return notFound;
}

void LoopbackHttpServer::sendEndlessly(int fd, const ScriptedReply& reply) {
  std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + reasonPhrase(reply.status) + "\r\n";
  for (const auto& [name, value] : reply.headers) head += name + ": " + value + "\r\n";
  head += "Connection: close\r\n\r\n";
  if (!sendAll(fd, head)) return;
  const std::string piece = reply.body.empty() ? std::string(64 * 1024, ' ') : reply.body;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
    }
    if (!sendAll(fd, piece)) return;
  }
}

void LoopbackHttpServer::serve(int fd, std::size_t connection) {
  std::string buffer;
  char chunk[16384];
  auto readMore = [&]() {
    const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
    if (got <= 0) return false;
    buffer.append(chunk, static_cast<size_t>(got));
    return true;
  };

  for (;;) {
    size_t headerEnd;
    while ((headerEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
      if (!readMore()) return;
      // A TLS handshake (record type 22) on this plain port gets a plain answer, as real servers give.
      if (buffer.front() == '\x16') {
        sendAll(fd, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return;
      }
    }
    RecordedRequest request;
    request.connection = connection;
    std::string_view head(buffer.data(), headerEnd);
    const auto lineEnd = head.find("\r\n");
    const std::string_view requestLine = head.substr(0, lineEnd);
    const auto firstSpace = requestLine.find(' ');
    const auto secondSpace = requestLine.find(' ', firstSpace + 1);
    if (firstSpace == std::string_view::npos || secondSpace == std::string_view::npos) return;
    request.method = std::string(requestLine.substr(0, firstSpace));
    request.target = std::string(requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1));
    const auto question = request.target.find('?');
    request.path = request.target.substr(0, question);
    if (question != std::string::npos) request.query = request.target.substr(question + 1);

    std::string_view rest = lineEnd == std::string_view::npos ? std::string_view() : head.substr(lineEnd + 2);
    while (!rest.empty()) {
      const auto end = rest.find("\r\n");
      const std::string_view line = rest.substr(0, end);
      const auto colon = line.find(':');
      if (colon != std::string_view::npos) {
        request.headers.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
      }
      if (end == std::string_view::npos) break;
      rest.remove_prefix(end + 2);
    }
    size_t contentLength = 0;
    if (auto length = request.header("Content-Length")) contentLength = std::stoul(*length);
    buffer.erase(0, headerEnd + 4);
    while (buffer.size() < contentLength) {
      if (!readMore()) return;
    }
    request.body = buffer.substr(0, contentLength);
    buffer.erase(0, contentLength);

    const bool closeAfter = sameName(request.header("Connection").value_or(""), "close");
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
    }
    changed_.notify_all();

    const ScriptedReply reply = replyFor(request);
    if (reply.delay.count() > 0 && !waitUnlessStopping(reply.delay)) return;
    switch (reply.action) {
      case ScriptedReply::Action::drop:
        return;
      case ScriptedReply::Action::hang:
        waitUnlessStopping(std::nullopt);
        return;
      case ScriptedReply::Action::raw:
        sendAll(fd, reply.body);
        return;
      case ScriptedReply::Action::endless:
        sendEndlessly(fd, reply);
        return;
      case ScriptedReply::Action::respond:
      case ScriptedReply::Action::truncate:
        break;
    }
    std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " " + reasonPhrase(reply.status) + "\r\n";
    bool hasLength = false;
    for (const auto& [name, value] : reply.headers) {
      hasLength = hasLength || sameName(name, "Content-Length");
      out += name + ": " + value + "\r\n";
    }
    if (!hasLength) out += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    if (closeAfter) out += "Connection: close\r\n";
    out += "\r\n";
    if (reply.action == ScriptedReply::Action::truncate) {
      sendAll(fd, out + reply.body.substr(0, reply.body.size() / 2));
      return;
    }
    if (request.method != "HEAD") out += reply.body;
    if (!sendAll(fd, out) || closeAfter) return;
  }
}

}  // namespace quorvelle::test
