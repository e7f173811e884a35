// Syntax colouring of Java source for `snp html`, a line at a time: keywords,
// string, character and text-block literals, comments, numbers and
// annotations become spans (kw, st, cm, nu, an) and everything is escaped.
// A block comment or text block that spans lines is carried in the state, so
// each line's HTML stands alone (its spans closed) and can sit in its own row.
//
// It is a lexer, not a parser: a contextual keyword (var, record, yield) is
// coloured wherever it appears. Text that isn't Java just comes out escaped.
//
// Thread-safety: pure functions over the caller's state.
#ifndef CCOVER_TOOLS_SNP_JAVA_HIGHLIGHT_H_
#define CCOVER_TOOLS_SNP_JAVA_HIGHLIGHT_H_

#include <string_view>

class HtmlOut;

enum class JavaLexState { kCode, kBlockComment, kTextBlock };

// Appends one line (valid UTF-8, without its line end) as HTML.
void highlightJavaLine(std::string_view line, JavaLexState* state, HtmlOut* out);

#endif  // CCOVER_TOOLS_SNP_JAVA_HIGHLIGHT_H_
