package quorvatix.cci;

/**
 * The probes that instrumented code calls: at each line slot, and at method
 * entry. The runtime binds these natives to its own functions at VM init; they
 * hand the event to the coverage agent's handlers. This class lies on the boot
 * class path, so that code of any class loader can reach it.
 */
public final class Probes {
  private Probes() {}

  /** A line slot of a method was reached. */
  public static native void line(int method, int slot);

  /** A method was entered at its first line slot. */
  public static native void entryLine(int method, int slot);

  /** A method without a line slot at its start was entered. */
  public static native void entry(int method);
}
