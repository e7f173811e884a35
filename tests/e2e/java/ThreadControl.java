import quorvatix.audit.CoverMain;

/**
 * Pauses and resumes the program's threads through the agent, as the Java
 * side's run control does, and prints what it saw:
 *
 * <pre>
 * register 1 0
 * paused N frozen true
 * resumed N moving true
 * requests 1 2 1 0 -1
 * </pre>
 */
public final class ThreadControl {
  static volatile long counter;
  static volatile boolean stop;

  private ThreadControl() {}

  public static void main(String[] args) throws Exception {
    Thread worker = new Thread(() -> {
      while (!stop) {
        counter++;
      }
    }, "worker");
    worker.setDaemon(true);
    worker.start();
    while (counter == 0) {
      Thread.sleep(1);
    }
    System.out.println("register " + CoverMain.registerAuditThread() + " "
        + CoverMain.registerAuditThread());
    int paused = CoverMain.pauseAllThreads();
    long before = counter;
    Thread.sleep(300);
    boolean frozen = counter == before;
    System.out.println("paused " + paused + " frozen " + frozen);
    int resumed = CoverMain.resumeAllThreads();
    long after = counter;
    Thread.sleep(300);
    System.out.println("resumed " + resumed + " moving " + (counter != after));
    System.out.println("requests " + CoverMain.willProcessAuditRequest() + " "
        + CoverMain.willProcessAuditRequest() + " " + CoverMain.didProcessAuditRequest() + " "
        + CoverMain.didProcessAuditRequest() + " " + CoverMain.didProcessAuditRequest());
    stop = true;
    worker.join();
  }
}
