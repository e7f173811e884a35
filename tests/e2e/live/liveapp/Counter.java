package liveapp;

/** A thread that prints a rising count every 20 ms until it is stopped. */
final class Counter {
  private static volatile boolean running;
  private static Thread thread;
  private static int ticks;

  private Counter() {}

  static void begin() {
    running = true;
    thread = new Thread(() -> {
      while (running) {
        ticks++;
        System.out.println("tick " + ticks);
        pause();
      }
    }, "counter");
    thread.start();
  }

  private static void pause() {
    try {
      Thread.sleep(20);
    } catch (InterruptedException e) {
      running = false;
    }
  }

  static int end() throws InterruptedException {
    running = false;
    thread.join();
    return ticks;
  }
}
