// What only a class file tells about code the compiler made: facts that the
// snapshot does not hold, so that the filters (filters.h) can leave that code
// out of reports when --classes gives the class files.
//   - A record's equals, hashCode and toString that javac generates: each is
//     one invokedynamic of java/lang/runtime/ObjectMethods.bootstrap between
//     loading its operands and returning. A record's own equals (any other
//     code) is the programmer's.
//   - An enum's constructor that only passes name and ordinal on to
//     java/lang/Enum: javac's when the enum declares none. Its line is the
//     enum's declaration, which the class initialiser holds too, so it
//     changes the method counts only.
//   - The first line of a Kotlin class that an inline function's code was
//     given: kotlinc copies an inline function's body into its callers and
//     numbers those lines past the end of the file, recording the mapping in
//     the class's SourceDebugExtension (an SMAP, JSR-45). Such a line is not
//     a line of the file, and tools that check a report against the source
//     (SonarQube) refuse a file's coverage when it names one.
// Anything these functions can't read is treated as the programmer's code:
// a filter must never hide code on a guess.
//
// Thread-safety: plain functions.
#ifndef CCOVER_TOOLS_SNP_COMPILER_CODE_H_
#define CCOVER_TOOLS_SNP_COMPILER_CODE_H_

#include <stdint.h>

#include <string_view>

#include "classfile/class_file.h"

// Why `method` is the compiler's (a short reason), or nullptr when it is not.
const char* compilerMadeMethod(const classfile::ClassFile& cf, const classfile::Member& method);

// Whether `method` is one of the equals(Object), hashCode() and toString()
// that javac generates for a record (the class is not checked).
bool isGeneratedRecordMethod(const classfile::ClassFile& cf, const classfile::Member& method);

// The first line number that a Kotlin class's SMAP gives to inlined code, or
// 0 when it gives none (no SMAP, another language's, or one that can't be
// read). className is the class's VM name ("app/kt/InlineKt"), sourceFile
// its SourceFile ("Inline.kt"): a mapping of the class's own file onto the
// same lines is the identity, not inlined code.
int32_t kotlinFirstInlinedLine(std::string_view className, std::string_view sourceFile,
                               std::string_view smap);

// The class's SourceDebugExtension, or empty when it has none.
std::string_view sourceDebugExtension(const classfile::ClassFile& cf);

#endif  // CCOVER_TOOLS_SNP_COMPILER_CODE_H_
