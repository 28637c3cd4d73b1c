// A small HTTP/1.1 server for GET requests on one local address, built so
// that no client can hold up another: request heads are gathered by one
// thread polling every connection, each with a byte limit and a deadline,
// and only whole requests reach the few threads that do the work. Nothing
// is compressed (on loopback it costs more time than it saves), and at most
// one byte range is served per request.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct HttpLimits {
  std::size_t max_connections = 64;                // open at once; more are answered 503 and closed
  std::size_t max_head_bytes = 16384;              // request line and headers together
  std::chrono::milliseconds head_deadline{5000};   // from a request's first byte to its end
  std::chrono::milliseconds idle_deadline{15000};  // a kept-alive connection with no request
  std::chrono::milliseconds send_deadline{30000};  // to hand over a whole answer
  int workers = 6;
  int backlog = 256;  // connections the system queues before they are accepted
};

struct HttpRequest {
  std::string method;                                        // GET or HEAD
  std::string path;                                          // percent-decoded, without the query
  std::vector<std::pair<std::string, std::string>> query;    // decoded
  std::vector<std::pair<std::string, std::string>> headers;  // names in lower case
  std::vector<std::string> matches;  // the route's captured groups, set by the router

  // The first header or query parameter of the name, or "" (header names
  // are given in lower case).
  std::string Header(const std::string& name) const;
  bool HasHeader(const std::string& name) const;
  std::string Param(const std::string& name) const;
  bool HasParam(const std::string& name) const;
};

struct HttpResponse {
  int status = 200;
  std::string content_type = "application/octet-stream";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  bool ranges = false;  // a Range header may ask for a part of the body

  void SetHeader(const std::string& name, const std::string& value);  // replaces one of the name
};

class HttpServer {
 public:
  // Called on a worker thread for every whole request; may throw, which
  // answers 500.
  using Handler = std::function<void(const HttpRequest&, HttpResponse&)>;

  HttpServer(HttpLimits limits, Handler handler);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Listens on the IPv4 address and port (0: a free one); returns the port,
  // or -1 when it cannot be had.
  int Bind(const std::string& address, int port);
  // Answers requests until Stop(); then closes every connection.
  void Serve();
  // From any thread: Serve returns soon after, with the connections closed.
  void Stop();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The reason phrase of a status code.
const char* StatusText(int status);
