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
