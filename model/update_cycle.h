// Coverage figures and the update cycle. The handlers only count and queue
// classes; the figures of a class (coverage, coverageAtMark, coverageSinceMark,
// missedLines, missedLinesSinceMark) are recomputed here, lazily, for queued
// classes and for classes named by an explicit request.
// model/figures.h holds the rule itself.
//
// Thread-safety: runs on Java threads while handlers count. Figures are computed
// outside every lock from counters read with relaxed loads, so they reflect the
// counters as read during the computation, not one instant.
#ifndef CCOVER_MODEL_UPDATE_CYCLE_H_
#define CCOVER_MODEL_UPDATE_CYCLE_H_

#include <stdint.h>

#include "cci/records.h"

// Result of an update: the classes named, in the order of the IDs given,
// interfaces left out. items has room for one pointer per ID given.
struct ClassList {
  CClass** items;
  int32_t count;
};

// Adds the method's counts to the counters given; atMark and changed may be null.
void countLineSlots(const CMethod* method, uint32_t* executed, uint32_t* atMark, uint32_t* changed);
// Writes the class's figures and clears touched of each of its methods.
void computeClassFigures(CClass* cls);

// Looks each ID up and recomputes its class. Ends the process (code 1) on an ID
// that is not in the object table or that is neither a class nor an interface.
ClassList* updateClassesById(const uint32_t* ids, int32_t n);
// Drains updatedClasses and updates the classes it held.
ClassList* updateTouchedClasses();
void freeClassList(ClassList* list);

// Takes a baseline of every counter and queues every loaded class.
void markClasses();
// Queues every class again for the class-info answer.
void detachClasses();
// Diagnostic listing of the object table on standard output.
void printClasses(bool verbose);

#endif  // CCOVER_MODEL_UPDATE_CYCLE_H_
