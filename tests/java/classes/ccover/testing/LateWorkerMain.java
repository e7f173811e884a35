package ccover.testing;

/**
 * A main class whose main method returns while a non-daemon thread it started
 * still has work to do; with an argument, main then throws it as a message.
 */
public class LateWorkerMain {
  public static void main(String[] args) {
    Thread worker = new Thread(() -> {
      try {
        Thread.sleep(500);
      } catch (InterruptedException e) {
        return;
      }
      System.out.println("worker done");
    });
    worker.start();
    System.out.println("main returns");
    if (args.length > 0) {
      throw new IllegalStateException(args[0]);
    }
  }
}
