// Raw DEFLATE decoding (RFC 1951) for the class files of a jar. snp reads
// jars on every target, the 32-bit and Windows builds included, so it carries
// its own small decoder rather than depend on a zlib built for each of them.
//
// The output is bounded by the size the caller expects (the zip entry's
// declared size): a stream that would write more, or stops short, fails.
//
// Thread-safety: a plain function.
#ifndef CCOVER_TOOLS_SNP_INFLATE_H_
#define CCOVER_TOOLS_SNP_INFLATE_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// Decodes `size` bytes of raw DEFLATE into exactly `expected` bytes. False,
// with a reason in *error ("invalid block type", ...), when the stream is
// malformed, ends early or gives another length.
bool inflateRaw(const uint8_t* data, size_t size, size_t expected, std::vector<uint8_t>* out,
                std::string* error);

#endif  // CCOVER_TOOLS_SNP_INFLATE_H_
