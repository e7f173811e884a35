// The little HTTP/1.1 that snp pull needs: the viewer's URL as the program
// prints it, and a decoder of one response (status line, headers, a body
// delimited by Content-Length, by chunked transfer, or by the end of the
// connection). No TLS, no redirects: the viewer speaks plain HTTP, usually on
// loopback.
//
// Thread-safety: plain values; one decoder per response.
#ifndef CCOVER_TOOLS_SNP_HTTP_CLIENT_H_
#define CCOVER_TOOLS_SNP_HTTP_CLIENT_H_

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <string>

struct ViewerUrl {
  std::string host;  // as written, without the brackets of an IPv6 address
  uint16_t port = 80;
  std::string token;  // from #token= or ?token=; "" when absent
};

// http://HOST[:PORT][/...][?token=T][#token=T]. Throws SnpError naming what is
// wrong with any other text.
ViewerUrl parseViewerUrl(const std::string& url);

// The request line and headers of a POST with no body.
std::string buildPost(const ViewerUrl& url, const std::string& path);

class HttpResponseDecoder {
 public:
  // Takes the next bytes received; throws SnpError on a malformed response.
  void feed(const char* data, size_t size);
  // The connection ended: completes a body delimited by the end, and throws
  // SnpError when the response was cut short.
  void finish();

  bool complete() const { return state_ == State::kDone; }
  int status() const { return status_; }
  // Header names in lower case; a repeated header keeps its last value.
  const std::map<std::string, std::string>& headers() const { return headers_; }
  const std::string& body() const { return body_; }

 private:
  enum class State {
    kHead,
    kBody,
    kChunkSize,
    kChunkData,
    kChunkEnd,
    kTrailer,
    kUntilClose,
    kDone
  };
  void parseHead(const std::string& head);
  void step();

  State state_ = State::kHead;
  std::string pending_;  // received and not yet decoded
  int status_ = 0;
  std::map<std::string, std::string> headers_;
  std::string body_;
  uint64_t left_ = 0;  // bytes of the body or of the current chunk still to come
};

#endif  // CCOVER_TOOLS_SNP_HTTP_CLIENT_H_
