// The one codec of modified UTF-8, the JVM's encoding of UTF-16 units, and of
// plain UTF-8: the encoding of units (as the JVM writes it), the unit-by-unit
// decoding of such text that the Windows platform half uses for file names, the
// joining of surrogate pairs that the POSIX half uses for file names, a
// strict UTF-8 decoder for POSIX locale text, and the conversion to plain UTF-8
// that the reports use. Header-only and free of OS headers, so the Windows
// rules are also tested on POSIX builds.
//
// Every function bounds its output by its input, as stated at each; none
// allocates. Thread-safety: pure functions.
#ifndef CCOVER_SUPPORT_MODIFIED_UTF8_H_
#define CCOVER_SUPPORT_MODIFIED_UTF8_H_

#include <stddef.h>
#include <stdint.h>

namespace mutf8 {

// Encodes one UTF-16 unit: 0x0001-0x007F as one byte; 0x0000 and 0x0080-0x07FF
// as two (so NUL becomes C0 80); 0x0800-0xFFFF as three. A surrogate is encoded
// like any other unit, three bytes each. Returns the bytes written (1 to 3).
inline size_t encodeUnit(uint16_t unit, char* out) {
  if (unit >= 0x0001 && unit <= 0x007F) {
    out[0] = static_cast<char>(unit);
    return 1;
  }
  if (unit <= 0x07FF) {
    out[0] = static_cast<char>(0xC0 | (unit >> 6));
    out[1] = static_cast<char>(0x80 | (unit & 0x3F));
    return 2;
  }
  out[0] = static_cast<char>(0xE0 | (unit >> 12));
  out[1] = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
  out[2] = static_cast<char>(0x80 | (unit & 0x3F));
  return 3;
}

// Encodes count units and appends a NUL. REQUIRES: out holds 3 * count + 1
// bytes. Returns the bytes written before the NUL.
template <typename Unit>
size_t encodeUnits(const Unit* units, size_t count, char* out) {
  size_t length = 0;
  for (size_t i = 0; i < count; i++) {
    length += encodeUnit(static_cast<uint16_t>(units[i]), out + length);
  }
  out[length] = '\0';
  return length;
}

inline bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes NUL-terminated modified UTF-8 unit by unit, the way the Windows file
// functions read a path: a byte below 0x80 is one unit; 110xxxxx 10xxxxxx is one
// unit of the 5 + 6 payload bits; 1110xxxx 10xxxxxx 10xxxxxx one unit of the
// 4 + 6 + 6 bits, and 1110xxxx 10xxxxxx followed by anything else one unit of
// the 4 + 6 bits of those two bytes; any other byte is a unit of its own value.
// A character beyond 16 bits must therefore arrive as two 3-byte surrogates;
// the bytes of a 4-byte sequence become one unit each. The terminating NUL ends
// the text, so a continuation test never reads past it.
// REQUIRES: out holds strlen(text) + 1 units. Writes a 0 unit after the units
// and returns their number.
template <typename Unit>
size_t decodeUnits(const char* text, Unit* out) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  size_t count = 0;
  while (*p != 0) {
    unsigned char b = p[0];
    if ((b & 0xE0) == 0xC0 && isContinuation(p[1])) {
      out[count++] = static_cast<Unit>(((b & 0x1F) << 6) | (p[1] & 0x3F));
      p += 2;
    } else if ((b & 0xF0) == 0xE0 && isContinuation(p[1])) {
      if (isContinuation(p[2])) {
        out[count++] = static_cast<Unit>(((b & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
        p += 3;
      } else {
        out[count++] = static_cast<Unit>(((b & 0x0F) << 6) | (p[1] & 0x3F));
        p += 2;
      }
    } else {
      out[count++] = static_cast<Unit>(b);
      p += 1;
    }
  }
  out[count] = 0;
  return count;
}

// The length of the well-formed UTF-8 sequence at p, of which available bytes
// may be read, with its code point in *code; 0 when the bytes there don't
// start one (an overlong form, an encoded surrogate, a code point above
// U+10FFFF, a stray continuation byte, a sequence cut short). Reads a byte
// only after each earlier one was a lead or a continuation byte, so a NUL
// ends the reading of NUL-terminated text as well as available does.
inline size_t wellFormedSequence(const unsigned char* p, size_t available, uint32_t* code) {
  if (available == 0) return 0;
  unsigned char b = p[0];
  if (b < 0x80) {
    *code = b;
    return 1;
  }
  size_t length = b >= 0xC2 && b <= 0xDF   ? 2
                  : (b & 0xF0) == 0xE0     ? 3
                  : b >= 0xF0 && b <= 0xF4 ? 4
                                           : 0;
  if (length == 0 || available < length) return 0;
  uint32_t c = b & (0xFF >> (length + 1));
  for (size_t k = 1; k < length; k++) {
    if (!isContinuation(p[k])) return 0;
    c = (c << 6) | (p[k] & 0x3F);
  }
  static constexpr uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kLeast[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  *code = c;
  return length;
}

// Whether length bytes are well-formed UTF-8 throughout, as a strict decoder
// (a POSIX UTF-8 locale's) takes them.
inline bool isWellFormedUtf8(const char* text, size_t length) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  size_t i = 0;
  while (i < length) {
    uint32_t code = 0;
    size_t n = wellFormedSequence(p + i, length - i, &code);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

// Decodes NUL-terminated UTF-8 into UTF-16 units. Only well-formed sequences are
// decoded (wellFormedSequence); a character above U+FFFF becomes a surrogate
// pair. A byte that does not start a well-formed sequence is taken as Latin-1:
// one unit of its own value, and decoding goes on with the next byte. Never
// reads past the NUL.
// REQUIRES: out holds strlen(text) units (no sequence yields more units than it
// has bytes). Returns the number of units; writes no terminator.
template <typename Unit>
size_t utf8ToUnits(const char* text, Unit* out) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  size_t count = 0;
  while (*p != 0) {
    uint32_t code = 0;
    size_t length = wellFormedSequence(p, static_cast<size_t>(-1), &code);
    if (length == 0) {  // not well-formed: the lead byte as Latin-1
      code = p[0];
      length = 1;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out[count++] = static_cast<Unit>(0xD800 | (code >> 10));
      out[count++] = static_cast<Unit>(0xDC00 | (code & 0x3FF));
    } else {
      out[count++] = static_cast<Unit>(code);
    }
    p += length;
  }
  return count;
}

constexpr uint32_t kReplacement = 0xFFFD;

// Appends the UTF-8 form of a code point (up to U+10FFFF) through out->push_back.
template <typename Out>
void appendUtf8(uint32_t code, Out* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// Decodes one character of modified or plain UTF-8 at text[*i] (length bytes in
// all, no terminator needed) and advances *i past it. A surrogate comes back as
// it is, for the caller to pair. An overlong form other than C0 80 (NUL), a
// truncated sequence or a stray byte gives kReplacement.
inline uint32_t decodeOne(const char* text, size_t length, size_t* i) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  auto cont = [&](size_t k) { return k < length && isContinuation(p[k]); };
  size_t at = *i;
  unsigned char b = p[at];
  if (b < 0x80) {
    *i += 1;
    return b;
  }
  if ((b & 0xE0) == 0xC0 && cont(at + 1)) {
    uint32_t code = ((b & 0x1Fu) << 6) | (p[at + 1] & 0x3Fu);
    *i += 2;
    return code >= 0x80 || code == 0 ? code : kReplacement;
  }
  if ((b & 0xF0) == 0xE0 && cont(at + 1) && cont(at + 2)) {
    uint32_t code = ((b & 0x0Fu) << 12) | ((p[at + 1] & 0x3Fu) << 6) | (p[at + 2] & 0x3Fu);
    *i += 3;
    return code >= 0x800 ? code : kReplacement;
  }
  if (b >= 0xF0 && b <= 0xF4 && cont(at + 1) && cont(at + 2) && cont(at + 3)) {
    uint32_t code = ((b & 0x07u) << 18) | ((p[at + 1] & 0x3Fu) << 12) | ((p[at + 2] & 0x3Fu) << 6) |
                    (p[at + 3] & 0x3Fu);
    *i += 4;
    return code >= 0x10000 && code <= 0x10FFFF ? code : kReplacement;
  }
  *i += 1;
  return kReplacement;
}

inline bool isHighSurrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool isLowSurrogate(uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Converts modified UTF-8 (or plain UTF-8) to plain UTF-8 through
// out->push_back: surrogate pairs join into one 4-byte character, C0 80 becomes
// a NUL byte, and anything ill-formed (a lone surrogate among it) becomes
// U+FFFD. Writes at most 3 bytes per input byte.
template <typename Out>
void toUtf8(const char* text, size_t length, Out* out) {
  size_t i = 0;
  while (i < length) {
    uint32_t code = decodeOne(text, length, &i);
    if (isHighSurrogate(code)) {
      size_t next = i;
      uint32_t low = next < length ? decodeOne(text, length, &next) : 0;
      if (isLowSurrogate(low)) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        i = next;
      } else {
        code = kReplacement;
      }
    } else if (isLowSurrogate(code)) {
      code = kReplacement;
    }
    appendUtf8(code, out);
  }
}

// Turns a path in modified UTF-8 into the plain UTF-8 that POSIX file names
// use: a high surrogate's three bytes followed at once by a low surrogate's
// three bytes become the 4-byte sequence of their character. Every other byte
// is copied as it is, so a name that already worked (ASCII, characters of the
// first 64K, bytes of another encoding) reaches the system unchanged; a lone
// surrogate stays three bytes, which a UTF-8 file system stores as given.
// REQUIRES: out holds strlen(text) + 1 bytes (the result is never longer).
// Writes a NUL after the result and returns its length.
inline size_t pathToUtf8(const char* text, char* out) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  size_t length = 0;
  // ED A0..AF xx is a high surrogate, ED B0..BF xx a low one.
  auto surrogateAt = [&](const unsigned char* q, unsigned char low, unsigned char high) {
    return q[0] == 0xED && q[1] >= low && q[1] <= high && isContinuation(q[2]);
  };
  while (*p != 0) {
    if (surrogateAt(p, 0xA0, 0xAF) && surrogateAt(p + 3, 0xB0, 0xBF)) {
      uint32_t high = 0xD000u | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
      uint32_t low = 0xD000u | ((p[4] & 0x3Fu) << 6) | (p[5] & 0x3Fu);
      uint32_t code = 0x10000u + ((high - 0xD800u) << 10) + (low - 0xDC00u);
      out[length++] = static_cast<char>(0xF0 | (code >> 18));
      out[length++] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out[length++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out[length++] = static_cast<char>(0x80 | (code & 0x3F));
      p += 6;
    } else {
      out[length++] = static_cast<char>(*p++);
    }
  }
  out[length] = '\0';
  return length;
}

}  // namespace mutf8

#endif  // CCOVER_SUPPORT_MODIFIED_UTF8_H_
