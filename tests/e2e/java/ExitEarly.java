/** Ends the JVM through System.exit(3) from a thread other than main, mid-run. */
public final class ExitEarly {
  private ExitEarly() {}

  public static void main(String[] args) throws Exception {
    Thread t = new Thread(() -> {
      System.out.println("exiting");
      System.exit(3);
    });
    t.start();
    t.join();
    System.out.println("never printed");
  }
}
