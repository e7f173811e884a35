package sample;

import java.util.Map;
import java.util.TreeMap;

/**
 * The samples' own count of what they run. A call of {@link #here} on a line
 * counts one execution of that line; {@link #entered} as a method's first
 * statement also counts one entry into the method. {@link #print} writes the
 * counts, one per line:
 *
 * <pre>
 * line  sample/Branches 23 7
 * entry sample/Branches classify (I)Ljava/lang/String; 20
 * </pre>
 *
 * so that a test can compare them with what coverage recorded.
 */
public final class Mark {
  private static final Map<String, int[]> counts = new TreeMap<>();
  private static final StackWalker walker = StackWalker.getInstance(StackWalker.Option.RETAIN_CLASS_REFERENCE);

  private Mark() {}

  /** Counts one run of the caller's line. */
  public static void here() {
    StackWalker.StackFrame caller = walker.walk(s -> s.skip(1).findFirst()).get();
    count("line  " + caller.getClassName().replace('.', '/') + " " + caller.getLineNumber());
  }

  /** Counts one run of the caller's line and one entry into its method. */
  public static void entered() {
    StackWalker.StackFrame caller = walker.walk(s -> s.skip(1).findFirst()).get();
    String owner = caller.getClassName().replace('.', '/');
    count("line  " + owner + " " + caller.getLineNumber());
    count("entry " + owner + " " + caller.getMethodName() + " " + caller.getDescriptor());
  }

  private static synchronized void count(String key) {
    int[] n = counts.get(key);
    if (n == null) {
      counts.put(key, new int[] {1});
    } else {
      n[0]++;
    }
  }

  /** Writes every count and forgets them. */
  public static synchronized void print() {
    for (Map.Entry<String, int[]> e : counts.entrySet()) {
      System.out.println(e.getKey() + " " + e.getValue()[0]);
    }
    counts.clear();
  }
}
