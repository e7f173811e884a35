// Hands a snapshot file to a quorvatix/audit/CoverReporter in chunks of 10240
// bytes: openRemotely(name, stream), writeRemotely(chunk, length, progress,
// stream) for every full chunk and once more at close (possibly empty), then
// closeRemotely(stream). One Java byte array, made on first use, serves every
// transfer.
//
// A reporter method that throws stops the transfer at once: the call that saw
// the exception returns false, no further JNI call is made with it pending, and
// the exception stays pending for the Java caller.
//
// Thread-safety: one transfer at a time, all of its calls on one thread.
#ifndef CCOVER_SNAPSHOT_REMOTE_TRANSFER_H_
#define CCOVER_SNAPSHOT_REMOTE_TRANSFER_H_

#include <jni.h>
#include <stdint.h>

enum { kRemoteChunkSize = 10240 };

// Binds to CoverReporter on first use (ending the process when the class or a
// method is missing). False when reporter is not a CoverReporter or
// openRemotely threw.
bool openRemoteTransfer(JNIEnv* env, const char* fileName, jobject reporter, jobject stream,
                        uint32_t totalSize);
bool writeRemoteTransfer(const uint8_t* block, int32_t length);
bool closeRemoteTransfer();

// The progress figure of a chunk: floor(sent / total * 100) in double precision.
int32_t remoteProgress(int32_t sent, uint32_t totalSize);

#endif  // CCOVER_SNAPSHOT_REMOTE_TRANSFER_H_
