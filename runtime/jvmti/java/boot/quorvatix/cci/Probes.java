package quorvatix.cci;

/**
 * The probes that instrumented code calls: at each line slot, and at method
 * entry. This class lies on the boot class path, so that code of any class
 * loader can reach it.
 *
 * <p>Exact counting (counting=exact) calls the natives line, entryLine and
 * entry, which the runtime binds at VM init to functions that hand the event
 * to the coverage agent's handlers.
 *
 * <p>Inline counting (the default) calls countLine, countEntryLine and
 * countEntry, which the JIT compiles into the instrumented method: they count
 * in the method's record themselves, as the agent's handler does on a cache
 * hit, and hand the event to the handler (through the natives) only while the
 * method's touched flag is 0, so that the agent counts it and queues its
 * class. Counters stop at 2^32-1. Two threads that increment one counter at
 * the same instant can lose one of the increments; a counter that was
 * incremented never reads 0.
 */
public final class Probes {
  private Probes() {}

  /** A line slot of a method was reached. */
  public static native void line(int method, int slot);

  /** A method was entered at its first line slot. */
  public static native void entryLine(int method, int slot);

  /** A method without a line slot at its start was entered. */
  public static native void entry(int method);

  /** The layout of a method record: size, hits, invocations, touched. */
  static native int[] layout();

  // The inline probes' arguments are constants of the instrumented class:
  // counters, the address of its first line counter, where its record block
  // puts the method records just before the counters; fromEnd, how many
  // records back the method's lies; counter, the class-wide number of the
  // slot's counter. Once the JIT has inlined a probe, the record and the
  // counter are constant addresses.

  // Until the JIT compiles them, probes run in the interpreter, where every
  // Java call and every native call costs: so each probe is one method, and
  // it calls Unsafe's (Object, long) natives directly rather than the
  // (long) forms, which are Java methods that call them. Compiled, both are
  // the same single instructions.

  /** A line slot was reached. */
  public static void countLine(long counters, int fromEnd, int counter) {
    long method = counters - fromEnd * Memory.METHOD_SIZE;
    if (Memory.U.getByte(null, method + Memory.TOUCHED) == 0) {
      line(Memory.U.getInt(null, method), slot(method, counters, counter));
      return;
    }
    long address = counters + 4L * counter;
    int value = Memory.U.getInt(null, address);
    if (value != -1) {
      Memory.U.putInt(null, address, value + 1);
    }
  }

  /**
   * A line slot was reached where the touched flag need not be checked: the
   * instrumenter found that this probe runs within a few instructions of one
   * that checked it (classfile/touched_checks.h).
   */
  public static void countHit(long counters, int counter) {
    long address = counters + 4L * counter;
    int value = Memory.U.getInt(null, address);
    if (value != -1) {
      Memory.U.putInt(null, address, value + 1);
    }
  }

  /** The method's first line slot was reached on entry. */
  public static void countEntryLine(long counters, int fromEnd, int counter) {
    long method = counters - fromEnd * Memory.METHOD_SIZE;
    if (Memory.U.getByte(null, method + Memory.TOUCHED) == 0) {
      entryLine(Memory.U.getInt(null, method), slot(method, counters, counter));
      return;
    }
    long invocations = method + Memory.INVOCATIONS;
    int entries = Memory.U.getInt(null, invocations);
    if (entries != -1) {
      Memory.U.putInt(null, invocations, entries + 1);
    }
    long address = counters + 4L * counter;
    int value = Memory.U.getInt(null, address);
    if (value != -1) {
      Memory.U.putInt(null, address, value + 1);
    }
  }

  /** The method was entered. */
  public static void countEntry(long counters, int fromEnd) {
    long method = counters - fromEnd * Memory.METHOD_SIZE;
    if (Memory.U.getByte(null, method + Memory.TOUCHED) == 0) {
      entry(Memory.U.getInt(null, method));
      return;
    }
    long invocations = method + Memory.INVOCATIONS;
    int entries = Memory.U.getInt(null, invocations);
    if (entries != -1) {
      Memory.U.putInt(null, invocations, entries + 1);
    }
  }

  /**
   * Calls each inline probe {@code calls} times on the runtime's own record
   * (its method record at {@code counters - METHOD_SIZE}, touched), so that the
   * JIT compiles the probes before the program's code first calls them.
   */
  static void warmUp(long counters, int calls) {
    for (int i = 0; i < calls; i++) {
      countLine(counters, 1, 0);
      countHit(counters, 0);
      countEntryLine(counters, 1, 0);
      countEntry(counters, 1);
    }
  }

  // The method's own number of a class-wide counter, for the handlers: its
  // hits pointer is its first counter.
  private static int slot(long method, long counters, int counter) {
    return (int) ((counters + 4L * counter - Memory.U.getAddress(method + Memory.HITS)) >> 2);
  }

  // Every increment above is a plain read and write: no lock and no atomic
  // instruction, which is what makes the probe cheap. A counter at 2^32-1 (-1
  // as an int) stays there.

  /**
   * What the inline probes read memory with, in a class of its own so that
   * exact counting never initializes it: jdk.internal.misc is exported to this
   * class's module only by the runtime at VM init.
   */
  private static final class Memory {
    static final jdk.internal.misc.Unsafe U = jdk.internal.misc.Unsafe.getUnsafe();
    static final long METHOD_SIZE;
    static final long HITS;
    static final long INVOCATIONS;
    static final long TOUCHED;

    static {
      int[] layout = layout();
      METHOD_SIZE = layout[0];
      HITS = layout[1];
      INVOCATIONS = layout[2];
      TOUCHED = layout[3];
    }
  }
}
