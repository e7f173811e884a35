package sample;

/** Synchronized instance and static methods and synchronized blocks, from several threads. */
public final class Synchronized {
  private static int shared;
  private int own;

  synchronized void bump() {
    Mark.entered();
    own++;
  }

  static synchronized void bumpShared() {
    Mark.entered();
    shared++;
  }

  void bumpBlock(Object lock) {
    synchronized (lock) {
      Mark.here();
      own++;
    }
  }

  public static void main(String[] args) throws InterruptedException {
    Synchronized a = new Synchronized();
    Synchronized b = new Synchronized();
    Object lock = new Object();
    Thread[] threads = new Thread[3];
    for (int t = 0; t < threads.length; t++) {
      final Synchronized target = t % 2 == 0 ? a : b;
      threads[t] = new Thread(() -> {
        for (int i = 0; i < 200; i++) {
          target.bump();
          bumpShared();
          target.bumpBlock(lock);
        }
      });
      threads[t].start();
    }
    for (Thread t : threads) {
      t.join();
    }
    Mark.here();
    System.out.println("synchronized " + (a.own + b.own) + " " + shared);
    Mark.print();
  }
}
