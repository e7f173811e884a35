package quorvatix.audit;

/**
 * The Java face of the coverage agent: every method here is implemented by the
 * native library ccover. Setting the system property ccover.noLoad keeps the
 * library from being loaded, so that a host (such as a test) can bind the
 * natives itself.
 */
public final class CoverMain {
  static {
    if (!Boolean.getBoolean("ccover.noLoad")) {
      System.loadLibrary("ccover");
    }
  }

  private CoverMain() {}

  /**
   * Runs a program under coverage: {@code CoverMain app.Main args...}. Starts the
   * agent with a snapshot at exit and runs the main class. When its main method
   * returns, so does this one: the JVM then ends as it would without coverage,
   * once the program's other non-daemon threads have ended, and the runtime's
   * VM-death event has the agent write the exit snapshot into the working
   * directory. An exception thrown by the program's main method goes on as it
   * would from there (its stack trace printed, exit code 1, after those
   * threads). A main class that cannot be run ends the process with code 1.
   */
  public static void main(String[] args) {
    if (args.length == 0) {
      System.err.println("usage: java -Xruncci -cp <ccover.jar>:<classes> "
          + "quorvatix.audit.CoverMain <main class> [arguments...]");
      System.exit(2);
    }
    start(null, false, true);
    String[] programArgs = java.util.Arrays.copyOfRange(args, 1, args.length);
    // An exception of the program's main method passes through unchanged.
    String error = runProgramWithClass(args[0].replace('.', '/'), programArgs);
    if (error != null) {
      System.exit(1);
    }
  }

  public static native int start(Object unused, boolean ignoreShutdown, boolean snapshotAtExit);

  public static native void exitNow();

  public static native int pauseAllThreads();

  public static native int resumeAllThreads();

  public static native int registerAuditThread();

  public static native int willProcessAuditRequest();

  public static native int didProcessAuditRequest();

  public static native void setGlobalFilter(int filter);

  public static native void setGlobalFilter0(int filter);

  public static native String runProgramWithClass(String className, String[] args);

  public static native String machineID();

  public static native void markClasses();

  public static native void detach();

  public static native boolean hasNewClasses();

  public static native void fillClassInfoAnswer(netscape.util.Hashtable answer);

  public static native void fillClassCoverageAnswer(netscape.util.Hashtable answer, int[] ids);

  public static native void fillAllClassCoverageAnswer(netscape.util.Hashtable answer);

  public static native void fillMethodInfoAnswer(netscape.util.Hashtable answer, int[] ids);

  public static native void fillMethodCoverageAnswer(netscape.util.Hashtable answer, int[] ids);

  public static native boolean generateSnapshot(String file, String sourcePath, String comment,
      Object reporter, java.io.OutputStream stream, boolean local);
}
