#include "tools/snp/http_client.h"

#include "tools/snp/snapshot_model.h"

namespace {

constexpr size_t kMaxHead = size_t{64} * 1024;
constexpr uint64_t kMaxBody = uint64_t{1} << 31;

std::string lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string trim(const std::string& text) {
  size_t start = text.find_first_not_of(" \t");
  if (start == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t");
  return text.substr(start, end - start + 1);
}

// A decimal (or, for chunk sizes, hexadecimal) number of at most 16 digits.
bool parseNumber(const std::string& text, int base, uint64_t* out) {
  if (text.empty() || text.size() > 16) return false;
  uint64_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  *out = value;
  return true;
}

std::string tokenIn(const std::string& part) {
  // part is "a=1&token=T&b=2"
  size_t start = 0;
  while (start <= part.size()) {
    size_t end = part.find('&', start);
    if (end == std::string::npos) end = part.size();
    std::string pair = part.substr(start, end - start);
    if (pair.compare(0, 6, "token=") == 0) return pair.substr(6);
    start = end + 1;
  }
  return std::string();
}

}  // namespace

ViewerUrl parseViewerUrl(const std::string& url) {
  const std::string scheme = "http://";
  if (lower(url.substr(0, scheme.size())) != scheme) {
    throw SnpError(url + ": not an http:// URL (the viewer's URL, as the program printed it)");
  }
  std::string rest = url.substr(scheme.size());
  size_t end = rest.find_first_of("/?#");
  std::string authority = rest.substr(0, end);
  std::string tail = end == std::string::npos ? std::string() : rest.substr(end);
  ViewerUrl result;
  std::string portText;
  if (!authority.empty() && authority[0] == '[') {
    size_t close = authority.find(']');
    if (close == std::string::npos) throw SnpError(url + ": unclosed [ in the host");
    result.host = authority.substr(1, close - 1);
    std::string after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') throw SnpError(url + ": unexpected text after the host");
      portText = after.substr(1);
    }
  } else {
    size_t colon = authority.find(':');
    result.host = authority.substr(0, colon);
    if (colon != std::string::npos) portText = authority.substr(colon + 1);
  }
  if (result.host.empty()) throw SnpError(url + ": no host");
  if (result.host.find('@') != std::string::npos)
    throw SnpError(url + ": user names are not supported");
  if (!portText.empty() || authority.find(':') != std::string::npos) {
    uint64_t port = 0;
    if (!parseNumber(portText, 10, &port) || port == 0 || port > 65535) {
      throw SnpError(url + ": the port is not a number from 1 to 65535");
    }
    result.port = static_cast<uint16_t>(port);
  }
  size_t hash = tail.find('#');
  if (hash != std::string::npos) result.token = tokenIn(tail.substr(hash + 1));
  size_t question = tail.find('?');
  if (result.token.empty() && question != std::string::npos && question < hash) {
    result.token = tokenIn(tail.substr(
        question + 1, hash == std::string::npos ? std::string::npos : hash - question - 1));
  }
  for (char c : result.token) {
    bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!ok) throw SnpError(url + ": the token holds characters other than letters and digits");
  }
  return result;
}

std::string buildPost(const ViewerUrl& url, const std::string& path) {
  std::string host = url.host.find(':') != std::string::npos ? "[" + url.host + "]" : url.host;
  std::string request = "POST " + path + " HTTP/1.1\r\n";
  request += "Host: " + host + ":" + std::to_string(url.port) + "\r\n";
  if (!url.token.empty()) request += "X-Ccover-Token: " + url.token + "\r\n";
  request += "Content-Length: 0\r\nConnection: close\r\nUser-Agent: snp\r\n\r\n";
  return request;
}

void HttpResponseDecoder::parseHead(const std::string& head) {
  size_t lineEnd = head.find("\r\n");
  std::string statusLine = head.substr(0, lineEnd);
  // HTTP/1.x NNN reason
  uint64_t status = 0;
  if (statusLine.compare(0, 7, "HTTP/1.") != 0 || statusLine.size() < 12 || statusLine[8] != ' ' ||
      !parseNumber(statusLine.substr(9, 3), 10, &status) ||
      (statusLine.size() > 12 && statusLine[12] != ' ')) {
    throw SnpError("malformed status line \"" + statusLine + "\"");
  }
  status_ = static_cast<int>(status);
  size_t at = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
  while (at < head.size()) {
    size_t next = head.find("\r\n", at);
    if (next == std::string::npos) next = head.size();
    std::string line = head.substr(at, next - at);
    at = next + 2;
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) {
      throw SnpError("malformed header line \"" + line + "\"");
    }
    headers_[lower(trim(line.substr(0, colon)))] = trim(line.substr(colon + 1));
  }
  auto encoding = headers_.find("transfer-encoding");
  auto length = headers_.find("content-length");
  if (encoding != headers_.end()) {
    if (lower(encoding->second) != "chunked") {
      throw SnpError("unsupported Transfer-Encoding " + encoding->second);
    }
    state_ = State::kChunkSize;
  } else if (length != headers_.end()) {
    if (!parseNumber(length->second, 10, &left_) || left_ > kMaxBody) {
      throw SnpError("malformed Content-Length " + length->second);
    }
    state_ = left_ == 0 ? State::kDone : State::kBody;
  } else {
    state_ = State::kUntilClose;
  }
}

void HttpResponseDecoder::feed(const char* data, size_t size) {
  if (state_ == State::kDone) return;  // bytes after the response are not ours
  pending_.append(data, size);
  step();
}

void HttpResponseDecoder::step() {
  for (;;) {
    switch (state_) {
      case State::kHead: {
        size_t end = pending_.find("\r\n\r\n");
        if (end == std::string::npos) {
          if (pending_.size() > kMaxHead) throw SnpError("response headers too long");
          return;
        }
        std::string head = pending_.substr(0, end);
        pending_.erase(0, end + 4);
        parseHead(head);
        break;
      }
      case State::kBody:
      case State::kChunkData: {
        size_t n = pending_.size() < left_ ? pending_.size() : static_cast<size_t>(left_);
        body_.append(pending_, 0, n);
        pending_.erase(0, n);
        left_ -= n;
        if (left_ > 0) return;
        state_ = state_ == State::kBody ? State::kDone : State::kChunkEnd;
        break;
      }
      case State::kChunkSize: {
        size_t end = pending_.find("\r\n");
        if (end == std::string::npos) {
          if (pending_.size() > 1024) throw SnpError("malformed chunk size line");
          return;
        }
        std::string line = trim(pending_.substr(0, pending_.find_first_of(";\r")));
        pending_.erase(0, end + 2);
        if (!parseNumber(line, 16, &left_) || body_.size() + left_ > kMaxBody) {
          throw SnpError("malformed chunk size \"" + line + "\"");
        }
        state_ = left_ == 0 ? State::kTrailer : State::kChunkData;
        break;
      }
      case State::kChunkEnd:
        if (pending_.size() < 2) return;
        if (pending_.compare(0, 2, "\r\n") != 0) throw SnpError("chunk not followed by CRLF");
        pending_.erase(0, 2);
        state_ = State::kChunkSize;
        break;
      case State::kTrailer: {
        size_t end = pending_.find("\r\n");
        if (end == std::string::npos) {
          if (pending_.size() > kMaxHead) throw SnpError("trailer too long");
          return;
        }
        pending_.erase(0, end + 2);
        if (end == 0) state_ = State::kDone;
        break;
      }
      case State::kUntilClose:
        if (body_.size() + pending_.size() > kMaxBody) throw SnpError("response too long");
        body_ += pending_;
        pending_.clear();
        return;
      case State::kDone:
        return;
    }
  }
}

void HttpResponseDecoder::finish() {
  if (state_ == State::kUntilClose) {
    state_ = State::kDone;
    return;
  }
  if (state_ == State::kHead) throw SnpError("the connection closed before a response came");
  if (state_ != State::kDone) throw SnpError("the connection closed in the middle of the answer");
}
