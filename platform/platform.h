// The only interface to the operating system. One implementation per OS:
// posix.cpp and windows.cpp; nothing outside platform/ includes OS headers.
//
// Thread-safety: every function may be called from any thread.
#ifndef CCOVER_PLATFORM_PLATFORM_H_
#define CCOVER_PLATFORM_PLATFORM_H_

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <time.h>

#include <string>

namespace platform {

// The machine's host name, NUL-terminated in buf; false when the system call
// fails (buf is then unspecified). On Windows the sockets library is not
// initialised by the agent, so this fails there unless the process did it.
bool hostName(char* buf, size_t size);
// The name of the (effective) user; false when it can't be had.
bool userName(char* buf, size_t size);
// Text in the system's narrow encoding (ANSI code page on Windows, the locale's
// UTF-8 on POSIX) to modified UTF-8 of its UTF-16 form, in a block from sMalloc
// that the caller frees with sFree. Null text gives null.
char* toModifiedUtf8(const char* text);
// fopen of a path given in modified UTF-8. Windows decodes it unit by unit to
// UTF-16 and uses _wfopen; POSIX joins surrogate pairs into UTF-8's 4-byte
// sequences and passes every other byte unchanged (mutf8::pathToUtf8).
FILE* openFile(const char* path, const char* mode);
// Creates a new file for binary writing, exclusively: never an existing name,
// even a dangling link. Null when it can't (errno EEXIST when the name is
// taken). The same decoding as openFile.
FILE* createFile(const char* path);
// Removes a file named as openFile names it (the same decoding); false on failure.
bool removeFile(const char* path);
// True when the open file is a regular file on disk (not a device, pipe or
// console), i.e. one that may be removed again when writing it failed.
bool isRegularFile(FILE* file);
// fwrite without taking the stream's lock, where the C library has such a call
// (glibc's fwrite_unlocked, the Windows CRT's _fwrite_nolock); plain fwrite
// elsewhere. For streams used by one thread at a time. Returns the bytes written.
size_t writeUnlocked(FILE* file, const void* data, size_t size);
// Creates a new, empty file exclusively in the system's temporary directory
// (never following or reusing an existing name or link), writes its path into
// pathOut and returns true. The file is closed again.
bool createTempFile(char* pathOut, size_t size);
// Local time of t; false on failure.
bool localTime(time_t t, struct tm* out);
void sleepMillis(uint32_t millis);
// The separator between a directory and a file name.
char pathSeparator();

// The process and its files, for the runtime and the tools.

// The folder of the loaded library (or executable) that holds this code,
// without a trailing separator; "" when the system can't tell.
std::string thisLibraryFolder();
bool fileExists(const char* path);
// The separator of path lists such as java.library.path (':' or ';').
char pathListSeparator();
// A library's file name as System.loadLibrary(base) looks for it:
// "lib<base>.so" or "<base>.dll".
std::string libraryFileName(const char* base);
// The codeset of the locale the environment asks for (LANG, LC_ALL,
// LC_CTYPE), as the JVM will set it up and decode paths with: "UTF-8",
// "ANSI_X3.4-1968" for C or a locale the system lacks, ... "" where paths
// don't go through it (Windows).
std::string localeCodeset();
// Prepares processBarrier; false when the system offers none.
bool enableProcessBarrier();
// A full memory barrier executed by every thread of the process before it
// returns (Linux membarrier, Windows FlushProcessWriteBuffers).
// REQUIRES: enableProcessBarrier() returned true.
void processBarrier();
// Runs run() on a new thread that nobody joins; false when no thread could be
// started (run then never runs).
bool startDetachedThread(void (*run)());
// True when standard output is a terminal that shows ANSI colours (on Windows
// after switching the console to them). NO_COLOR set, or TERM=dumb: false.
bool stdoutTakesColour();
// Creates path (in the system's narrow encoding, as a command line gives it)
// for binary writing, exclusively: null with errno EEXIST when the name is
// taken, even by a dangling link, so that a file made this way is one this
// process created. Mode 0666 less the umask on POSIX.
FILE* createNewFile(const char* path);
// Switches standard output to binary, so that Windows writes "\n" as one byte.
void binaryStdout();

}  // namespace platform

#endif  // CCOVER_PLATFORM_PLATFORM_H_
