// The viewer's HTTP server at the socket level, as a hostile local client
// would use it: clients that send their request slowly or never finish it
// do not hold up another's; a head over the byte limit and connections over
// their limit are refused before any work; Stop closes kept-alive
// connections. No test asserts a duration: each waits for an event.
#include "host/view/http_server.h"

#include "raw_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string StatusLine(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

class HttpServerTest : public ::testing::Test {
 protected:
  void Start(HttpLimits limits) {
    server_ = std::make_unique<HttpServer>(
        limits, [](const HttpRequest& request, HttpResponse& response) {
          response.body = "path " + request.path + " t=" + request.Param("t");
          response.content_type = "text/plain";
        });
    port_ = server_->Bind("127.0.0.1", 0);
    ASSERT_GT(port_, 0);
    serving_ = std::thread([this] { server_->Serve(); });
  }
  void TearDown() override {
    if (server_ == nullptr) return;
    server_->Stop();
    serving_.join();
  }

  std::unique_ptr<HttpServer> server_;
  int port_ = 0;
  std::thread serving_;
};

TEST_F(HttpServerTest, SlowAndSilentClientsDoNotHoldUpAnother) {
  HttpLimits limits;
  limits.workers = 2;
  Start(limits);
  // More unfinished requests than there are workers, each sending a header
  // line now and then, as a client on a slow link (or a hostile one) does.
  std::vector<std::unique_ptr<RawClient>> slow;
  for (int i = 0; i < 12; ++i) {
    slow.push_back(std::make_unique<RawClient>(port_));
    ASSERT_TRUE(slow.back()->connected());
    ASSERT_TRUE(slow.back()->Send("GET /slow HTTP/1.1\r\nHost: 127.0.0.1\r\n"));
  }
  std::atomic<bool> trickling{true};
  std::thread trickle([&] {
    while (trickling) {
      for (auto& client : slow) client->Send("X-More: 1\r\n");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  RawClient quick(port_);
  ASSERT_TRUE(quick.Send("GET /quick?t=a%20b HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
  const std::string answer = quick.ReadAnswer();
  trickling = false;
  trickle.join();
  EXPECT_EQ(StatusLine(answer), "HTTP/1.1 200 OK");
  EXPECT_NE(answer.find("path /quick t=a b"), std::string::npos) << answer;
  // The slow ones finish their requests and are answered too.
  for (auto& client : slow) {
    ASSERT_TRUE(client->Send("\r\n"));
    EXPECT_EQ(StatusLine(client->ReadAnswer()), "HTTP/1.1 200 OK");
  }
}

TEST_F(HttpServerTest, ARequestNotWholeByItsDeadlineIsDropped) {
  HttpLimits limits;
  limits.head_deadline = std::chrono::milliseconds(300);
  Start(limits);
  RawClient slow(port_);
  std::atomic<bool> open{true};
  std::thread trickle([&] {
    // One byte at a time, for as long as the server keeps the connection.
    const std::string head = "GET / HTTP/1.1\r\nX-Long: " + std::string(100000, 'a');
    for (char c : head) {
      if (!open || !slow.Send(std::string(1, c))) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  const std::string answer = slow.ReadToEnd();
  open = false;
  trickle.join();
  EXPECT_EQ(StatusLine(answer), "HTTP/1.1 408 Request Timeout");
}

TEST_F(HttpServerTest, RefusesOverLimitRequestsBeforeAnyWork) {
  HttpLimits limits;
  limits.max_head_bytes = 4096;
  Start(limits);
  const std::string start = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  struct Case {
    const char* what;
    std::string request;
    const char* status;
  };
  std::string many_lines;
  while (many_lines.size() < 5000) many_lines += "X-A: b\r\n";
  const std::vector<Case> cases = {
      {"a head just within the limit",
       start + "X-Fill: " + std::string(4096 - start.size() - 12, 'x') + "\r\n\r\n",
       "HTTP/1.1 200 OK"},
      {"one byte over",
       start + "X-Fill: " + std::string(4096 - start.size() - 11, 'x') + "\r\n\r\n",
       "HTTP/1.1 431 Request Header Fields Too Large"},
      {"many short header lines", start + many_lines + "\r\n",
       "HTTP/1.1 431 Request Header Fields Too Large"},
      {"a body", start + "Content-Length: 5\r\n\r\nhello", "HTTP/1.1 413 Content Too Large"},
      {"a method that writes", "POST / HTTP/1.1\r\n\r\n", "HTTP/1.1 405 Method Not Allowed"},
      {"a broken escape", "GET /%zz HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {"not HTTP/1", "GET / HTTP/2.0\r\n\r\n", "HTTP/1.1 505 HTTP Version Not Supported"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RawClient client(port_);
    ASSERT_TRUE(client.Send(c.request + "GET / HTTP/1.1\r\nConnection: close\r\n\r\n"));
    EXPECT_EQ(StatusLine(client.ReadAnswer()), c.status);
  }
}

TEST_F(HttpServerTest, ConnectionsBeyondTheLimitAreAnswered503) {
  HttpLimits limits;
  limits.max_connections = 4;
  Start(limits);
  std::vector<std::unique_ptr<RawClient>> held;
  for (int i = 0; i < 4; ++i) {
    held.push_back(std::make_unique<RawClient>(port_));
    // Answered, so that it is surely counted, and kept open.
    ASSERT_TRUE(held.back()->Send("GET / HTTP/1.1\r\n\r\n"));
    ASSERT_EQ(StatusLine(held.back()->ReadAnswer()), "HTTP/1.1 200 OK");
  }
  RawClient extra(port_);
  EXPECT_EQ(StatusLine(extra.ReadToEnd()), "HTTP/1.1 503 Service Unavailable");
  held.pop_back();  // one closed: room for the next
  std::string status;
  for (int attempt = 0; attempt < 100 && status != "HTTP/1.1 200 OK"; ++attempt) {
    RawClient next(port_);
    next.Send("GET / HTTP/1.1\r\n\r\n");
    status = StatusLine(next.ReadAnswer());
    if (status != "HTTP/1.1 200 OK") std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(status, "HTTP/1.1 200 OK");
}

TEST_F(HttpServerTest, StopClosesKeptAliveConnections) {
  Start(HttpLimits{});
  RawClient kept(port_);
  ASSERT_TRUE(kept.Send("GET /one HTTP/1.1\r\n\r\n"));
  const std::string first = kept.ReadAnswer();
  ASSERT_EQ(StatusLine(first), "HTTP/1.1 200 OK");
  EXPECT_NE(first.find("Connection: keep-alive"), std::string::npos);
  server_->Stop();
  serving_.join();
  server_.reset();
  // Whatever comes now is not served: the connection is closed.
  kept.Send("GET /two HTTP/1.1\r\n\r\n");
  EXPECT_EQ(kept.ReadToEnd(), "");
}

}  // namespace
