#if defined(_WIN32) && (!defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600)
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600  // WSAPoll and inet_pton: Windows Vista and later
#endif

#include "host/view/http_server.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <mutex>
#include <thread>

namespace {

// ---- The few socket calls, on Winsock and on POSIX --------------------------

#if defined(_WIN32)
using Socket = SOCKET;
using PollEntry = WSAPOLLFD;
constexpr Socket kNoSocket = INVALID_SOCKET;
constexpr int kSendFlags = 0;
int PollSockets(PollEntry* entries, std::size_t count, int milliseconds) {
  return WSAPoll(entries, static_cast<ULONG>(count), milliseconds);
}
void CloseSocket(Socket socket) { closesocket(socket); }
void MakeNonBlocking(Socket socket) {
  u_long on = 1;
  ioctlsocket(socket, FIONBIO, &on);
}
bool WouldBlock() {
  const int error = WSAGetLastError();
  return error == WSAEWOULDBLOCK || error == WSAEINTR;
}
Socket AcceptFrom(Socket listener) { return accept(listener, nullptr, nullptr); }
Socket NewSocket(int type) { return socket(AF_INET, type, 0); }
#else
using Socket = int;
using PollEntry = pollfd;
constexpr Socket kNoSocket = -1;
#if defined(MSG_NOSIGNAL)
constexpr int kSendFlags = MSG_NOSIGNAL;  // a client gone is an error, not SIGPIPE
#else
constexpr int kSendFlags = 0;
#endif
int PollSockets(PollEntry* entries, std::size_t count, int milliseconds) {
  return poll(entries, static_cast<nfds_t>(count), milliseconds);
}
void CloseSocket(Socket socket) { close(socket); }
void MakeNonBlocking(Socket socket) {
  fcntl(socket, F_SETFL, fcntl(socket, F_GETFL) | O_NONBLOCK);
  fcntl(socket, F_SETFD, FD_CLOEXEC);  // a browser started from here never holds it
}
bool WouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }
Socket AcceptFrom(Socket listener) { return accept(listener, nullptr, nullptr); }
Socket NewSocket(int type) { return socket(AF_INET, type, 0); }
#endif

long ReceiveSome(Socket socket, char* into, std::size_t size) {
  return static_cast<long>(recv(socket, into, static_cast<int>(size), 0));
}
long SendSome(Socket socket, const char* from, std::size_t size) {
  return static_cast<long>(
      send(socket, from, static_cast<int>(std::min<std::size_t>(size, 1 << 20)), kSendFlags));
}

using Clock = std::chrono::steady_clock;

// A connection between requests: the bytes of the next request received so
// far, and when it is dropped if the request is not whole by then.
struct Connection {
  Socket socket = kNoSocket;
  std::string received;
  bool started = false;  // a byte of the next request has come
  Clock::time_point deadline;
};

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string Trim(const std::string& text) {
  const std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %XX decoded (and '+' as a space in a query); false for a broken escape.
bool PercentDecode(const std::string& text, bool plus_is_space, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%') {
      if (i + 2 >= text.size()) return false;
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return false;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += plus_is_space && text[i] == '+' ? ' ' : text[i];
    }
  }
  return true;
}

// A request head that cannot be served, with the status that says why.
struct BadRequest {
  int status;
};

// The request line and headers, up to the blank line that ends them.
// `keep_alive` says whether the client wants the connection kept.
HttpRequest ParseHead(const std::string& head, bool& keep_alive) {
  HttpRequest request;
  std::size_t at = head.find("\r\n");
  const std::string line = head.substr(0, at);
  const std::size_t first = line.find(' ');
  const std::size_t second = line.find(' ', first == std::string::npos ? 0 : first + 1);
  if (first == std::string::npos || second == std::string::npos) throw BadRequest{400};
  request.method = line.substr(0, first);
  const std::string target = line.substr(first + 1, second - first - 1);
  const std::string version = line.substr(second + 1);
  if (version != "HTTP/1.1" && version != "HTTP/1.0") throw BadRequest{505};
  keep_alive = version == "HTTP/1.1";

  while (at != std::string::npos && at + 2 < head.size()) {
    const std::size_t end = head.find("\r\n", at + 2);
    const std::string field = head.substr(at + 2, end - at - 2);
    at = end;
    if (field.empty()) break;
    const std::size_t colon = field.find(':');
    if (colon == std::string::npos || colon == 0 || field[0] == ' ' || field[0] == '\t')
      throw BadRequest{400};
    request.headers.emplace_back(Lower(field.substr(0, colon)), Trim(field.substr(colon + 1)));
  }
  const std::string connection = Lower(request.Header("connection"));
  if (connection == "close") keep_alive = false;
  if (connection == "keep-alive") keep_alive = true;

  if (request.method != "GET" && request.method != "HEAD") throw BadRequest{405};
  // Nothing here takes a body, so none is read: refused before any work.
  if (request.HasHeader("transfer-encoding") ||
      (request.HasHeader("content-length") && request.Header("content-length") != "0"))
    throw BadRequest{413};
  if (target.empty() || target[0] != '/') throw BadRequest{400};
  const std::size_t question = target.find('?');
  if (!PercentDecode(target.substr(0, question), false, request.path)) throw BadRequest{400};
  if (question != std::string::npos) {
    const std::string query = target.substr(question + 1);
    std::size_t from = 0;
    while (from <= query.size()) {
      const std::size_t amp = std::min(query.find('&', from), query.size());
      const std::string pair = query.substr(from, amp - from);
      from = amp + 1;
      if (pair.empty()) continue;
      const std::size_t equals = pair.find('=');
      std::string name, value;
      if (!PercentDecode(pair.substr(0, equals), true, name) ||
          !PercentDecode(equals == std::string::npos ? "" : pair.substr(equals + 1), true, value))
        throw BadRequest{400};
      request.query.emplace_back(std::move(name), std::move(value));
    }
  }
  return request;
}

// One range of the body, when the request asks for exactly one that it
// holds: the response becomes 206 (or 416 when the range lies outside).
// Several ranges are not served: the whole body answers them.
void ApplyRange(const HttpRequest& request, HttpResponse& response) {
  if (!response.ranges || response.status != 200) return;
  response.SetHeader("Accept-Ranges", "bytes");
  const std::string range = request.Header("range");
  if (range.compare(0, 6, "bytes=") != 0 || range.find(',') != std::string::npos) return;
  const std::string wanted = Trim(range.substr(6));
  const std::size_t dash = wanted.find('-');
  if (dash == std::string::npos) return;
  const auto number = [](const std::string& digits, std::uint64_t& value) {
    if (digits.empty() || digits.size() > 18 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
      return false;
    value = std::stoull(digits);
    return true;
  };
  const std::uint64_t size = response.body.size();
  std::uint64_t first = 0, last = 0;
  if (dash == 0) {  // the last N bytes
    std::uint64_t count = 0;
    if (!number(wanted.substr(1), count)) return;
    if (count == 0)
      first = size;  // unsatisfiable
    else
      first = count >= size ? 0 : size - count;
    last = size == 0 ? 0 : size - 1;
  } else {
    if (!number(wanted.substr(0, dash), first)) return;
    if (dash + 1 == wanted.size()) {
      last = size == 0 ? 0 : size - 1;
    } else if (!number(wanted.substr(dash + 1), last) || last < first) {
      return;
    }
    if (last >= size) last = size == 0 ? 0 : size - 1;
  }
  if (first >= size) {
    response.status = 416;
    response.body.clear();
    response.SetHeader("Content-Range", "bytes */" + std::to_string(size));
    return;
  }
  response.status = 206;
  response.SetHeader("Content-Range", "bytes " + std::to_string(first) + "-" +
                                          std::to_string(last) + "/" + std::to_string(size));
  response.body = response.body.substr(first, last - first + 1);
}

}  // namespace

const char* StatusText(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 206:
      return "Partial Content";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 413:
      return "Content Too Large";
    case 416:
      return "Range Not Satisfiable";
    case 421:
      return "Misdirected Request";
    case 422:
      return "Unprocessable Content";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    case 505:
      return "HTTP Version Not Supported";
    default:
      return "Unknown";
  }
}

std::string HttpRequest::Header(const std::string& name) const {
  for (const auto& [key, value] : headers)
    if (key == name) return value;
  return {};
}
bool HttpRequest::HasHeader(const std::string& name) const {
  return std::any_of(headers.begin(), headers.end(),
                     [&](const auto& header) { return header.first == name; });
}
std::string HttpRequest::Param(const std::string& name) const {
  for (const auto& [key, value] : query)
    if (key == name) return value;
  return {};
}
bool HttpRequest::HasParam(const std::string& name) const {
  return std::any_of(query.begin(), query.end(),
                     [&](const auto& param) { return param.first == name; });
}

void HttpResponse::SetHeader(const std::string& name, const std::string& value) {
  for (auto& header : headers) {
    if (Lower(header.first) == Lower(name)) {
      header.second = value;
      return;
    }
  }
  headers.emplace_back(name, value);
}

struct HttpServer::State {
  HttpLimits limits;
  Handler handler;
  Socket listener = kNoSocket;
  Socket wake = kNoSocket;  // a datagram to itself ends the poll at once
  sockaddr_in wake_address{};
  std::atomic<bool> stopping{false};
  std::atomic<std::size_t> open{0};  // connections held, polled or at work

  // Whole requests waiting for a worker, and connections the workers hand
  // back for their next request.
  struct Job {
    Connection connection;
    std::string head;
  };
  std::mutex mutex;
  std::condition_variable work;
  std::deque<Job> jobs;
  std::vector<Connection> returned;

#if defined(_WIN32)
  bool winsock = false;
  State() {
    WSADATA data;
    winsock = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~State() {
    Close();
    if (winsock) WSACleanup();
  }
#else
  State() = default;
  ~State() { Close(); }
#endif

  void Close() {
    if (listener != kNoSocket) CloseSocket(listener);
    if (wake != kNoSocket) CloseSocket(wake);
    listener = wake = kNoSocket;
  }

  void Wake() {
    const char byte = 0;
    sendto(wake, &byte, 1, 0, reinterpret_cast<const sockaddr*>(&wake_address),
           sizeof wake_address);
  }

  void Drop(Connection& connection) {
    if (connection.socket != kNoSocket) CloseSocket(connection.socket);
    connection.socket = kNoSocket;
    --open;
  }

  // A short refusal on a socket that may not take it whole; then closed.
  void Refuse(Connection& connection, int status) {
    const std::string text = std::string("HTTP/1.1 ") + std::to_string(status) + " " +
                             StatusText(status) +
                             "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    SendSome(connection.socket, text.data(), text.size());
    Drop(connection);
  }

  // Everything, within the send deadline and while the server runs.
  bool SendAll(Socket socket, const char* data, std::size_t size, Clock::time_point deadline) {
    while (size > 0) {
      const long sent = SendSome(socket, data, size);
      if (sent > 0) {
        data += sent;
        size -= static_cast<std::size_t>(sent);
        continue;
      }
      if (sent < 0 && !WouldBlock()) return false;
      if (stopping || Clock::now() >= deadline) return false;
      PollEntry entry{};
      entry.fd = socket;
      entry.events = POLLOUT;
      PollSockets(&entry, 1, 100);
    }
    return true;
  }

  // A request whose head is whole goes to a worker; a connection that has
  // one waiting in its bytes already (pipelined) too. True when the
  // connection has left the poll set.
  // A head over the limit is refused whether or not its end has come.
  bool TakeWholeRequest(Connection& connection) {
    const std::size_t end = connection.received.find("\r\n\r\n");
    if ((end == std::string::npos ? connection.received.size() : end + 4) > limits.max_head_bytes) {
      Refuse(connection, 431);
      return true;
    }
    if (end == std::string::npos) return false;
    Job job;
    job.head = connection.received.substr(0, end + 2);
    connection.received.erase(0, end + 4);
    job.connection = std::move(connection);
    connection.socket = kNoSocket;
    {
      const std::lock_guard lock(mutex);
      jobs.push_back(std::move(job));
    }
    work.notify_one();
    return true;
  }

  void Answer(Job& job) {
    Connection& connection = job.connection;
    bool keep_alive = false;
    HttpRequest request;
    HttpResponse response;
    try {
      request = ParseHead(job.head, keep_alive);
      try {
        handler(request, response);
      } catch (...) {
        response = HttpResponse{};
        response.status = 500;
      }
      ApplyRange(request, response);
    } catch (const BadRequest& bad) {
      response.status = bad.status;
      keep_alive = false;
    }
    if (response.status == 405) response.SetHeader("Allow", "GET, HEAD");
    keep_alive = keep_alive && !stopping;
    std::string head =
        "HTTP/1.1 " + std::to_string(response.status) + " " + StatusText(response.status) + "\r\n";
    if (!response.body.empty() || response.status == 200)
      head += "Content-Type: " + response.content_type + "\r\n";
    head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    head += keep_alive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
    head += "\r\n";
    const Clock::time_point deadline = Clock::now() + limits.send_deadline;
    const bool sent = SendAll(connection.socket, head.data(), head.size(), deadline) &&
                      (request.method == "HEAD" || SendAll(connection.socket, response.body.data(),
                                                           response.body.size(), deadline));
    if (!sent || !keep_alive) {
      Drop(connection);
      return;
    }
    connection.started = !connection.received.empty();
    connection.deadline =
        Clock::now() + (connection.started ? limits.head_deadline : limits.idle_deadline);
    {
      const std::lock_guard lock(mutex);
      returned.push_back(std::move(connection));
    }
    Wake();
  }

  void Work() {
    for (;;) {
      Job job;
      {
        std::unique_lock lock(mutex);
        work.wait(lock, [this] { return stopping || !jobs.empty(); });
        if (jobs.empty()) return;
        job = std::move(jobs.front());
        jobs.pop_front();
      }
      if (stopping) {
        Drop(job.connection);
        continue;
      }
      Answer(job);
    }
  }

  void Accept(std::list<Connection>& waiting) {
    for (;;) {
      Connection connection;
      connection.socket = AcceptFrom(listener);
      if (connection.socket == kNoSocket) return;
      MakeNonBlocking(connection.socket);
      ++open;
      if (open > limits.max_connections) {
        Refuse(connection, 503);
        continue;
      }
      connection.deadline = Clock::now() + limits.idle_deadline;
      waiting.push_back(std::move(connection));
    }
  }

  // Reads what has come; false when the connection is finished with here
  // (closed, refused, or handed to a worker).
  bool Receive(Connection& connection) {
    char chunk[4096];
    for (;;) {
      const std::size_t room = limits.max_head_bytes + 4 - connection.received.size();
      const long got = ReceiveSome(connection.socket, chunk, std::min(sizeof chunk, room));
      if (got == 0 || (got < 0 && !WouldBlock())) {
        Drop(connection);
        return false;
      }
      if (got < 0) return true;
      if (!connection.started) {
        connection.started = true;
        connection.deadline = Clock::now() + limits.head_deadline;
      }
      connection.received.append(chunk, static_cast<std::size_t>(got));
      if (TakeWholeRequest(connection)) return false;
    }
  }

  void Serve() {
    std::vector<std::thread> workers;
    for (int i = 0; i < std::max(1, limits.workers); ++i) workers.emplace_back([this] { Work(); });
    std::list<Connection> waiting;
    std::vector<PollEntry> entries;
    std::vector<std::list<Connection>::iterator> polled;
    while (!stopping) {
      {
        const std::lock_guard lock(mutex);
        for (Connection& connection : returned) waiting.push_back(std::move(connection));
        returned.clear();
      }
      const Clock::time_point now = Clock::now();
      Clock::time_point soonest = now + std::chrono::seconds(1);
      entries.assign(2, PollEntry{});
      entries[0].fd = wake;
      entries[0].events = POLLIN;
      entries[1].fd = listener;
      entries[1].events = POLLIN;
      polled.clear();
      for (auto it = waiting.begin(); it != waiting.end();) {
        if (TakeWholeRequest(*it)) {
          it = waiting.erase(it);
          continue;
        }
        if (now >= it->deadline) {
          if (it->started)
            Refuse(*it, 408);
          else
            Drop(*it);
          it = waiting.erase(it);
          continue;
        }
        soonest = std::min(soonest, it->deadline);
        PollEntry entry{};
        entry.fd = it->socket;
        entry.events = POLLIN;
        entries.push_back(entry);
        polled.push_back(it);
        ++it;
      }
      const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(soonest - now);
      if (PollSockets(entries.data(), entries.size(), static_cast<int>(wait.count()) + 1) <= 0)
        continue;
      if (entries[0].revents != 0) {
        char drain[64];
        while (ReceiveSome(wake, drain, sizeof drain) > 0) {
        }
      }
      if (entries[1].revents != 0) Accept(waiting);
      for (std::size_t i = 0; i < polled.size(); ++i) {
        if (entries[i + 2].revents == 0) continue;
        if (!Receive(*polled[i])) waiting.erase(polled[i]);
      }
    }
    for (Connection& connection : waiting) Drop(connection);
    work.notify_all();
    for (std::thread& worker : workers) worker.join();
    const std::lock_guard lock(mutex);
    for (Connection& connection : returned) Drop(connection);
    returned.clear();
  }
};

HttpServer::HttpServer(HttpLimits limits, Handler handler) : state_(std::make_unique<State>()) {
  state_->limits = limits;
  state_->handler = std::move(handler);
}

HttpServer::~HttpServer() = default;

int HttpServer::Bind(const std::string& address, int port) {
  State& state = *state_;
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(static_cast<std::uint16_t>(port));
  if (inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) return -1;
  state.listener = NewSocket(SOCK_STREAM);
  state.wake = NewSocket(SOCK_DGRAM);
  if (state.listener == kNoSocket || state.wake == kNoSocket) return -1;
#if !defined(_WIN32)
  // A port left in TIME_WAIT by an earlier viewer can be had again at once.
  const int on = 1;
  setsockopt(state.listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#endif
  socklen_t length = sizeof where;
  if (bind(state.listener, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0 ||
      listen(state.listener, state.limits.backlog) != 0 ||
      getsockname(state.listener, reinterpret_cast<sockaddr*>(&where), &length) != 0)
    return -1;
  sockaddr_in wake{};
  wake.sin_family = AF_INET;
  wake.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  length = sizeof wake;
  if (bind(state.wake, reinterpret_cast<const sockaddr*>(&wake), sizeof wake) != 0 ||
      getsockname(state.wake, reinterpret_cast<sockaddr*>(&state.wake_address), &length) != 0)
    return -1;
  MakeNonBlocking(state.listener);
  MakeNonBlocking(state.wake);
  return ntohs(where.sin_port);
}

void HttpServer::Serve() { state_->Serve(); }

void HttpServer::Stop() {
  state_->stopping = true;
  state_->work.notify_all();
  if (state_->wake != kNoSocket) state_->Wake();
}
