// The Signature's time stamp, "Tue Dec 08 03:55:31 2026\n" (asctime's layout,
// the agent's local time), read back into seconds since 1970 as if that local
// time were UTC: the zone of the machine that wrote it is not recorded. Used to
// order snapshots and to date reports.
#ifndef CCOVER_MERGE_TIMESTAMP_H_
#define CCOVER_MERGE_TIMESTAMP_H_

#include <stdint.h>

#include <string>

// False when the text is not in that layout (then *seconds is untouched).
bool parseTimestamp(const std::string& text, int64_t* seconds);

#endif  // CCOVER_MERGE_TIMESTAMP_H_
