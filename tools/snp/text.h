// Names and text for the reports: class names in their VM, dotted and source
// path forms, and the conversion of the file's modified UTF-8 into the valid
// UTF-8 that JSON, XML and HTML need, with their escapes.
//
// Thread-safety: pure functions.
#ifndef CCOVER_TOOLS_SNP_TEXT_H_
#define CCOVER_TOOLS_SNP_TEXT_H_

#include <string>

struct SnpClass;

// "app.tools.Main" or "app/tools/Main" -> "app/tools/Main". A VM name never
// holds '.', so the conversion is safe whichever form cci gave.
std::string vmName(const std::string& name);
// "app/tools/Main" -> "app.tools.Main".
std::string dottedName(const std::string& name);
// The package folder: "app/tools", "" for the default package.
std::string packageOf(const std::string& name);
// The name without its package: "Main", "Outer$Inner".
std::string simpleName(const std::string& name);
// The package folder plus the source file name ("app/tools/Main.java"); ""
// when the class has no source file name.
std::string sourcePath(const SnpClass& c);

// Modified UTF-8 (C0 80 for NUL, surrogates as two 3-byte sequences) to UTF-8.
// Plain 4-byte UTF-8 passes too; any byte that starts no valid sequence, and a
// lone surrogate, becomes U+FFFD, so the result is always valid UTF-8.
std::string toUtf8(const std::string& modifiedUtf8);
// A JSON string literal, quotes included, of valid UTF-8.
std::string jsonQuote(const std::string& utf8);
// Text for XML and HTML content and attribute values: & < > " ' escaped, tab,
// newline and carriage return as character references, and characters that XML
// 1.0 can't hold (other controls) as U+FFFD.
std::string xmlEscape(const std::string& utf8);

#endif  // CCOVER_TOOLS_SNP_TEXT_H_
