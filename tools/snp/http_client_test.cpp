#include "tools/snp/http_client.h"

#include <gtest/gtest.h>

#include "tools/snp/snapshot_model.h"

namespace {

TEST(ViewerUrl, ReadsHostPortAndTokenAsTheProgramPrintsThem) {
  ViewerUrl a = parseViewerUrl("http://127.0.0.1:41234/#token=0a1b2c");
  EXPECT_EQ(a.host, "127.0.0.1");
  EXPECT_EQ(a.port, 41234);
  EXPECT_EQ(a.token, "0a1b2c");
  ViewerUrl b = parseViewerUrl("HTTP://build-host:8080/?token=ff00");
  EXPECT_EQ(b.host, "build-host");
  EXPECT_EQ(b.port, 8080);
  EXPECT_EQ(b.token, "ff00");
  ViewerUrl c = parseViewerUrl("http://[::1]:9000/?x=1&token=ab#y=2&token=cd");
  EXPECT_EQ(c.host, "::1");
  EXPECT_EQ(c.port, 9000);
  EXPECT_EQ(c.token, "cd");  // the fragment's, which the browser never sends
  ViewerUrl d = parseViewerUrl("http://localhost");
  EXPECT_EQ(d.port, 80);
  EXPECT_EQ(d.token, "");
}

TEST(ViewerUrl, RefusesWhatItCannotReach) {
  for (const char* url :
       {"https://127.0.0.1:1/#token=a", "127.0.0.1:80", "http://:80/", "http://host:0/",
        "http://host:65536/", "http://host:8x/", "http://[::1/", "http://u@host:80/",
        "http://h:80/#token=a%0d%0a", "http://h:80/#token=a b"}) {
    EXPECT_THROW(parseViewerUrl(url), SnpError) << url;
  }
}

TEST(ViewerUrl, PostCarriesHostAndToken) {
  EXPECT_EQ(buildPost(parseViewerUrl("http://[::1]:9000/#token=ab"), "/api/snapshot"),
            "POST /api/snapshot HTTP/1.1\r\nHost: [::1]:9000\r\nX-Ccover-Token: ab\r\n"
            "Content-Length: 0\r\nConnection: close\r\nUser-Agent: snp\r\n\r\n");
}

// Feeds the text one byte at a time, then the end of the connection.
HttpResponseDecoder decodeBytewise(const std::string& text, bool close = true) {
  HttpResponseDecoder d;
  for (char c : text) d.feed(&c, 1);
  if (close) d.finish();
  return d;
}

TEST(HttpResponse, BodiesDelimitedEachWay) {
  HttpResponseDecoder sized =
      decodeBytewise("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nX-A:  b \r\n\r\nhelloEXTRA", false);
  EXPECT_TRUE(sized.complete());
  EXPECT_EQ(sized.status(), 200);
  EXPECT_EQ(sized.body(), "hello");
  EXPECT_EQ(sized.headers().at("x-a"), "b");

  HttpResponseDecoder chunked = decodeBytewise(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n"
      "5;ext=1\r\nhello\r\nA\r\n, 10 bytes\r\n0\r\nTrailer: x\r\n\r\n",
      false);
  EXPECT_TRUE(chunked.complete());
  EXPECT_EQ(chunked.body(), "hello, 10 bytes");

  HttpResponseDecoder untilClose =
      decodeBytewise("HTTP/1.0 409 Conflict\r\n\r\n{\"error\":\"busy\"}");
  EXPECT_TRUE(untilClose.complete());
  EXPECT_EQ(untilClose.status(), 409);
  EXPECT_EQ(untilClose.body(), "{\"error\":\"busy\"}");

  HttpResponseDecoder empty =
      decodeBytewise("HTTP/1.1 204 No Content\r\nContent-Length: 0\r\n\r\n");
  EXPECT_TRUE(empty.complete());
  EXPECT_EQ(empty.body(), "");
}

TEST(HttpResponse, CutOrMalformedAnswersAreErrors) {
  for (const char* text : {
           "",                                                                 // nothing came
           "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nshort",               // cut body
           "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab",     // cut chunk
           "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello",  // no last chunk
           "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",      // bad chunk size
           "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabXY",   // no CRLF after
           "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n",
           "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n",
           "HTTP/1.1 200 OK\r\nno colon\r\n\r\n",
           "HTTP/2 200\r\n\r\n",
           "HTTP/1.1 2x0 OK\r\n\r\n",
           "SSH-2.0-OpenSSH\r\n\r\n",
       }) {
    EXPECT_THROW(decodeBytewise(text), SnpError) << text;
  }
}

}  // namespace
