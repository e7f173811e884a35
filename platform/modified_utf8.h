// Conversions between byte text and UTF-16 units that both platform halves
// share: the modified UTF-8 encoding of UTF-16 units (as the JVM writes it), the
// unit-by-unit decoding of such text that the Windows half uses for file names,
// and a strict UTF-8 decoder for POSIX locale text. Header-only and free of OS
// headers, so the Windows rules are also tested on POSIX builds.
//
// Every function bounds its output by its input, as stated at each; none
// allocates. Thread-safety: pure functions.
#ifndef CCOVER_PLATFORM_MODIFIED_UTF8_H_
#define CCOVER_PLATFORM_MODIFIED_UTF8_H_

#include <stddef.h>
#include <stdint.h>

namespace platform {
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

// Decodes NUL-terminated UTF-8 into UTF-16 units. Only well-formed sequences are
// decoded (no overlong forms, no encoded surrogates, nothing above U+10FFFF); a
// character above U+FFFF becomes a surrogate pair. A byte that does not start a
// well-formed sequence is taken as Latin-1: one unit of its own value, and
// decoding goes on with the next byte. Never reads past the NUL.
// REQUIRES: out holds strlen(text) units (no sequence yields more units than it
// has bytes). Returns the number of units; writes no terminator.
template <typename Unit>
size_t utf8ToUnits(const char* text, Unit* out) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  size_t count = 0;
  while (*p != 0) {
    unsigned char b = p[0];
    uint32_t code = 0;
    size_t length = 0;
    if (b < 0x80) {
      code = b;
      length = 1;
    } else if (b >= 0xC2 && b <= 0xDF && isContinuation(p[1])) {
      code = (static_cast<uint32_t>(b & 0x1F) << 6) | (p[1] & 0x3F);
      length = 2;
    } else if ((b & 0xF0) == 0xE0 && isContinuation(p[1]) && isContinuation(p[2])) {
      code = (static_cast<uint32_t>(b & 0x0F) << 12) | (static_cast<uint32_t>(p[1] & 0x3F) << 6) |
             (p[2] & 0x3F);
      if (code >= 0x0800 && (code < 0xD800 || code > 0xDFFF)) length = 3;
    } else if (b >= 0xF0 && b <= 0xF4 && isContinuation(p[1]) && isContinuation(p[2]) &&
               isContinuation(p[3])) {
      code = (static_cast<uint32_t>(b & 0x07) << 18) | (static_cast<uint32_t>(p[1] & 0x3F) << 12) |
             (static_cast<uint32_t>(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
      if (code >= 0x10000 && code <= 0x10FFFF) length = 4;
    }
    if (length == 0) {  // not well-formed: the lead byte as Latin-1
      code = b;
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

}  // namespace mutf8
}  // namespace platform

#endif  // CCOVER_PLATFORM_MODIFIED_UTF8_H_
