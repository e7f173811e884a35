#include "agent/start.h"

#include <stdio.h>
#include <stdlib.h>

#include "agent/handlers.h"
#include "agent/run_control.h"
#include "answers/answer_table.h"
#include "cci/cci.h"
#include "model/object_table.h"
#include "snapshot/generation.h"
#include "support/fatal.h"

AgentFlags agentFlags;

namespace {

// cci may keep the table's address, so it is static storage.
void* handlerTable[kCciHandlerCount];

void reportRuntimeNotInitialized() {
  fputs("\nThe cci module found by the audit system was not initialized.\n", stderr);
  fputs("This error usually happens because:\n", stderr);
  fputs("- the virtual machine was started without the -Xruncci (or -Xrunqmi) option\nor\n",
        stderr);
  fprintf(stderr,
          "- libraries from different Quillmetry versions are used. If you have different\n"
          "  Quillmetry versions installed on your machine make sure your %s\n"
          "  is pointing to only one Quillmetry install and that you have not copied\n"
          "  Quillmetry libraries into any other directories included in your %s\n",
          "PATH", "PATH");
  fatalExitQuiet();
}

}  // namespace

jint startAgent(JNIEnv* env, jboolean ignoreShutdown, jboolean snapshotAtExit) {
  agentFlags.ignoreShutdown = static_cast<uint8_t>(ignoreShutdown);
  agentFlags.snapshotAtExit = static_cast<uint8_t>(snapshotAtExit);

  if (cciIsInitialized() == 0) reportRuntimeNotInitialized();
  jint build = cciBuildNumber();
  if (build != kAgentBuildNumber) {
    printf(
        "Quillmetry Code Coverage WARNING: cci.dll library version %d does not match ccover.dll "
        "version %d.\nMake sure your Path does not point to an old version of cci.dll\n",
        static_cast<int>(build), static_cast<int>(kAgentBuildNumber));
    fflush(stdout);
  }

  bindObjectTables();
  bindAnswerClasses(env);
  bindSystemProperties(env);

  handlerTable[kCciSlotEmpty0] = reinterpret_cast<void*>(&emptyHandler);
  handlerTable[kCciSlotLine] = reinterpret_cast<void*>(&lineHandler);
  handlerTable[kCciSlotEntryLine] = reinterpret_cast<void*>(&entryLineHandler);
  handlerTable[kCciSlotEntry] = reinterpret_cast<void*>(&entryHandler);
  handlerTable[kCciSlotClassName] = reinterpret_cast<void*>(&classNameHandler);
  handlerTable[kCciSlotEmpty5] = reinterpret_cast<void*>(&emptyHandler);
  handlerTable[kCciSlotThreadEnd] = reinterpret_cast<void*>(&threadEndHandler);
  handlerTable[kCciSlotShutdown] = reinterpret_cast<void*>(&shutdownHandler);
  return cciSetHandlers(env, handlerTable);
}
