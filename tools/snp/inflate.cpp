#include "tools/snp/inflate.h"

namespace {

constexpr int kMaxBits = 15;

struct Huffman {
  uint16_t count[kMaxBits + 1];  // codes of each length
  uint16_t symbol[288];          // symbols ordered by code
};

struct Stream {
  const uint8_t* in;
  size_t size;
  size_t pos;
  uint32_t bitBuffer;
  int bitCount;
  size_t expected;
  std::vector<uint8_t>* out;
  const char* error;

  // -1 when the input ends.
  int64_t bits(int need) {
    uint64_t value = bitBuffer;
    while (bitCount < need) {
      if (pos == size) {
        error = "the stream ends early";
        return -1;
      }
      value |= static_cast<uint64_t>(in[pos++]) << bitCount;
      bitCount += 8;
    }
    bitBuffer = static_cast<uint32_t>(value >> need);
    bitCount -= need;
    return static_cast<int64_t>(value & ((1u << need) - 1));
  }
};

// Builds the canonical code from code lengths; false when over-subscribed
// (an incomplete code is allowed, as zlib allows it for a lone distance).
bool build(Huffman* h, const uint8_t* lengths, int n) {
  for (int len = 0; len <= kMaxBits; len++) h->count[len] = 0;
  for (int s = 0; s < n; s++) h->count[lengths[s]]++;
  if (h->count[0] == n) return true;
  int left = 1;
  for (int len = 1; len <= kMaxBits; len++) {
    left <<= 1;
    left -= h->count[len];
    if (left < 0) return false;
  }
  uint16_t offsets[kMaxBits + 1];
  offsets[1] = 0;
  for (int len = 1; len < kMaxBits; len++) offsets[len + 1] = offsets[len] + h->count[len];
  for (int s = 0; s < n; s++) {
    if (lengths[s] != 0) h->symbol[offsets[lengths[s]]++] = static_cast<uint16_t>(s);
  }
  return true;
}

int decode(Stream* s, const Huffman& h) {
  int code = 0, first = 0, index = 0;
  for (int len = 1; len <= kMaxBits; len++) {
    int64_t bit = s->bits(1);
    if (bit < 0) return -1;
    code |= static_cast<int>(bit);
    int count = h.count[len];
    if (code - count < first) return h.symbol[index + (code - first)];
    index += count;
    first += count;
    first <<= 1;
    code <<= 1;
  }
  s->error = "a code that no table holds";
  return -1;
}

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

bool codes(Stream* s, const Huffman& lengthCode, const Huffman& distCode) {
  std::vector<uint8_t>& out = *s->out;
  for (;;) {
    int symbol = decode(s, lengthCode);
    if (symbol < 0) return false;
    if (symbol < 256) {
      if (out.size() == s->expected) {
        s->error = "more bytes than the entry declares";
        return false;
      }
      out.push_back(static_cast<uint8_t>(symbol));
      continue;
    }
    if (symbol == 256) return true;
    symbol -= 257;
    if (symbol >= 29) {
      s->error = "an invalid length code";
      return false;
    }
    int64_t extra = s->bits(kLengthExtra[symbol]);
    if (extra < 0) return false;
    size_t length = kLengthBase[symbol] + static_cast<size_t>(extra);
    int d = decode(s, distCode);
    if (d < 0) return false;
    if (d >= 30) {
      s->error = "an invalid distance code";
      return false;
    }
    extra = s->bits(kDistExtra[d]);
    if (extra < 0) return false;
    size_t distance = kDistBase[d] + static_cast<size_t>(extra);
    if (distance > out.size()) {
      s->error = "a distance before the start of the data";
      return false;
    }
    if (length > s->expected - out.size()) {
      s->error = "more bytes than the entry declares";
      return false;
    }
    size_t from = out.size() - distance;
    for (size_t k = 0; k < length; k++) out.push_back(out[from + k]);
  }
}

bool fixedBlock(Stream* s) {
  static Huffman lengthCode, distCode;
  static bool built = false;
  if (!built) {
    uint8_t lengths[288];
    int k = 0;
    for (; k < 144; k++) lengths[k] = 8;
    for (; k < 256; k++) lengths[k] = 9;
    for (; k < 280; k++) lengths[k] = 7;
    for (; k < 288; k++) lengths[k] = 8;
    build(&lengthCode, lengths, 288);
    for (k = 0; k < 30; k++) lengths[k] = 5;
    build(&distCode, lengths, 30);
    built = true;
  }
  return codes(s, lengthCode, distCode);
}

bool dynamicBlock(Stream* s) {
  static const uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                     11, 4,  12, 3, 13, 2, 14, 1, 15};
  int64_t nlen = s->bits(5), ndist = s->bits(5), ncode = s->bits(4);
  if (nlen < 0 || ndist < 0 || ncode < 0) return false;
  nlen += 257;
  ndist += 1;
  ncode += 4;
  if (nlen > 286 || ndist > 30) {
    s->error = "too many length or distance codes";
    return false;
  }
  uint8_t lengths[320] = {};
  for (int k = 0; k < ncode; k++) {
    int64_t v = s->bits(3);
    if (v < 0) return false;
    lengths[kOrder[k]] = static_cast<uint8_t>(v);
  }
  Huffman lencode, distcode;
  if (!build(&lencode, lengths, 19)) {
    s->error = "an invalid code-length code";
    return false;
  }
  int index = 0;
  while (index < nlen + ndist) {
    int symbol = decode(s, lencode);
    if (symbol < 0) return false;
    if (symbol < 16) {
      lengths[index++] = static_cast<uint8_t>(symbol);
      continue;
    }
    uint8_t value = 0;
    int64_t repeat;
    if (symbol == 16) {
      if (index == 0) {
        s->error = "a repeat with no length before it";
        return false;
      }
      value = lengths[index - 1];
      repeat = s->bits(2);
      if (repeat >= 0) repeat += 3;
    } else if (symbol == 17) {
      repeat = s->bits(3);
      if (repeat >= 0) repeat += 3;
    } else {
      repeat = s->bits(7);
      if (repeat >= 0) repeat += 11;
    }
    if (repeat < 0) return false;
    if (index + repeat > nlen + ndist) {
      s->error = "code lengths past the table";
      return false;
    }
    while (repeat-- > 0) lengths[index++] = value;
  }
  if (lengths[256] == 0) {
    s->error = "a block without an end code";
    return false;
  }
  if (!build(&lencode, lengths, static_cast<int>(nlen)) ||
      !build(&distcode, lengths + nlen, static_cast<int>(ndist))) {
    s->error = "an over-subscribed code";
    return false;
  }
  return codes(s, lencode, distcode);
}

bool storedBlock(Stream* s) {
  s->bitBuffer = 0;
  s->bitCount = 0;
  if (s->size - s->pos < 4) {
    s->error = "the stream ends early";
    return false;
  }
  size_t len = s->in[s->pos] | (s->in[s->pos + 1] << 8);
  size_t nlen = s->in[s->pos + 2] | (s->in[s->pos + 3] << 8);
  s->pos += 4;
  if (len != (~nlen & 0xffff)) {
    s->error = "a stored block whose length check fails";
    return false;
  }
  if (s->size - s->pos < len) {
    s->error = "the stream ends early";
    return false;
  }
  if (len > s->expected - s->out->size()) {
    s->error = "more bytes than the entry declares";
    return false;
  }
  s->out->insert(s->out->end(), s->in + s->pos, s->in + s->pos + len);
  s->pos += len;
  return true;
}

}  // namespace

bool inflateRaw(const uint8_t* data, size_t size, size_t expected, std::vector<uint8_t>* out,
                std::string* error) {
  Stream s{data, size, 0, 0, 0, expected, out, nullptr};
  out->clear();
  out->reserve(expected);
  for (;;) {
    int64_t last = s.bits(1), type = s.bits(2);
    bool ok = false;
    if (last < 0 || type < 0) {
      ok = false;
    } else if (type == 0) {
      ok = storedBlock(&s);
    } else if (type == 1) {
      ok = fixedBlock(&s);
    } else if (type == 2) {
      ok = dynamicBlock(&s);
    } else {
      s.error = "an invalid block type";
    }
    if (!ok) {
      *error = s.error != nullptr ? s.error : "a malformed stream";
      return false;
    }
    if (last == 1) break;
  }
  if (out->size() != expected) {
    *error = "fewer bytes than the entry declares";
    return false;
  }
  return true;
}
