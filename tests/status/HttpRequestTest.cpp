#include <gtest/gtest.h>

#include <string>

#include "status/HttpRequest.h"

namespace wendrix {
namespace {

TEST(HttpRequest, WellFormedHeadGivesMethodTargetHostAndLength) {
  const std::string head =
      "GET /zodevur_app/en/waiting.php?v=5.1 HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n"
      "User-Agent: x\r\nAccept: */*\r\n\r\n";
  const std::string received = head + "extra";  // the views point into it
  const HttpRequest r = ParseHttpRequest(received);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.target, "/zodevur_app/en/waiting.php?v=5.1");
  EXPECT_EQ(r.host, "127.0.0.1:8080");
  EXPECT_EQ(r.headLength, head.size());
  // Bare line feeds, a blank after the colon left out, HTTP/1.0.
  const HttpRequest bare = ParseHttpRequest("HEAD / HTTP/1.0\nhost:localhost:1\n\n");
  EXPECT_EQ(bare.status, 200);
  EXPECT_EQ(bare.host, "localhost:1");
}

TEST(HttpRequest, IncompleteHeadWaitsForMore) {
  for (const char* part :
       {"", "GET", "GET / HTTP/1.1\r\n", "GET / HTTP/1.1\r\nHost: a\r\n", "GET / HTTP/1.1\r\nHost: a\r\n\r"})
    EXPECT_EQ(ParseHttpRequest(part).status, 0) << part;
}

TEST(HttpRequest, MalformedHeadsAreBadRequests) {
  for (const char* head : {
           "GET\r\n\r\n",
           "GET /\r\n\r\n",
           "GET  / HTTP/1.1\r\n\r\n",
           "GET x HTTP/1.1\r\n\r\n",
           "G(T / HTTP/1.1\r\n\r\n",
           "GET / HTTP/1.1 extra\r\n\r\n",
           "GET / HTTX/1.1\r\n\r\n",
           "GET /\x01 HTTP/1.1\r\n\r\n",
           "GET / HTTP/1.1\r\nno colon\r\n\r\n",
           "GET / HTTP/1.1\r\n folded: x\r\n\r\n",
           "GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n",
           "GET / HTTP/1.1\r\nX: a\x01b\r\n\r\n",
           "GET / HTTP/1.1\r\nContent-Length: 5\r\n\r\n",
           "GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n",
       })
    EXPECT_EQ(ParseHttpRequest(head).status, 400) << head;
  EXPECT_EQ(ParseHttpRequest("GET / HTTP/2.0\r\n\r\n").status, 505);
  EXPECT_EQ(ParseHttpRequest("GET / HTTP/1.1\r\nContent-Length: 0\r\n\r\n").status, 200);
}

TEST(HttpRequest, OverLongLinesAndHeadsAreRefusedWithoutWaitingForTheirEnd) {
  const std::string longTarget = "GET /" + std::string(kMaxRequestLine, 'a');
  EXPECT_EQ(ParseHttpRequest(longTarget).status, 414);
  EXPECT_EQ(ParseHttpRequest(longTarget + " HTTP/1.1\r\n\r\n").status, 414);

  std::string manyHeaders = "GET / HTTP/1.1\r\n";
  for (size_t i = 0; i <= kMaxHeaderLines; ++i) manyHeaders += "X: y\r\n";
  EXPECT_EQ(ParseHttpRequest(manyHeaders + "\r\n").status, 431);

  const std::string longHeader = "GET / HTTP/1.1\r\nX: " + std::string(kMaxRequestHead, 'b');
  EXPECT_EQ(ParseHttpRequest(longHeader).status, 431);
  EXPECT_EQ(ParseHttpRequest(longHeader + "\r\n\r\n").status, 431);
}

}  // namespace
}  // namespace wendrix
