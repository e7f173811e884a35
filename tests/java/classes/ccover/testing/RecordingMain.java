package ccover.testing;

/** A main class that records that it ran and with which arguments. */
public class RecordingMain {
  public static volatile int runs;
  public static volatile String[] lastArgs;

  public static void main(String[] args) {
    runs++;
    lastArgs = args;
  }

  public static String lastArgsText() {
    return lastArgs == null ? null : String.join(" ", lastArgs);
  }

  public static void reset() {
    runs = 0;
    lastArgs = null;
  }
}
