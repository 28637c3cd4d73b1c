// A client that speaks HTTP over a bare socket, so that tests see the bytes
// a server sends as they are: no client library between them, which might
// decode a header or refuse to send a hostile request.
#pragma once

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <string>

// A client socket with a receive timeout, so that a test that goes wrong
// fails instead of hanging.
class RawClient {
 public:
  explicit RawClient(int port) {
#if defined(_WIN32)
    static const bool started = [] {
      WSADATA data;
      return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
#endif
    socket_ = socket(AF_INET, SOCK_STREAM, 0);
#if defined(_WIN32)
    const DWORD limit = 20000;
#else
    const timeval limit{20, 0};
#endif
    setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit),
               sizeof limit);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<std::uint16_t>(port));
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(socket_, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0;
  }
  ~RawClient() {
#if defined(_WIN32)
    closesocket(socket_);
#else
    close(socket_);
#endif
  }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool connected() const { return connected_; }
  bool Send(const std::string& text) {
    return send(socket_, text.data(), static_cast<int>(text.size()), 0) ==
           static_cast<long>(text.size());
  }
  // Everything until the server closes (or the timeout).
  std::string ReadToEnd() {
    std::string all;
    char chunk[4096];
    for (;;) {
      const long got = static_cast<long>(recv(socket_, chunk, sizeof chunk, 0));
      if (got <= 0) return all;
      all.append(chunk, static_cast<std::size_t>(got));
    }
  }
  // One answer of a server that keeps the connection: up to the end of a
  // body of Content-Length bytes.
  std::string ReadAnswer() {
    std::string all;
    char chunk[4096];
    for (;;) {
      const std::size_t end = all.find("\r\n\r\n");
      if (end != std::string::npos) {
        const std::size_t length_at = all.find("Content-Length: ");
        const std::size_t length = length_at < end ? std::stoul(all.substr(length_at + 16)) : 0;
        if (all.size() >= end + 4 + length) return all;
      }
      const long got = static_cast<long>(recv(socket_, chunk, sizeof chunk, 0));
      if (got <= 0) return all;
      all.append(chunk, static_cast<std::size_t>(got));
    }
  }

 private:
#if defined(_WIN32)
  SOCKET socket_;
#else
  int socket_;
#endif
  bool connected_ = false;
};
