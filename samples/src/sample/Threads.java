package sample;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.atomic.AtomicLong;

/** Platform threads and a thread pool running the same code at once. */
public final class Threads {
  private static final AtomicLong total = new AtomicLong();

  private Threads() {}

  static void work(int rounds) {
    Mark.entered();
    for (int i = 0; i < rounds; i++) {
      total.addAndGet(i);
    }
  }

  static final class Worker extends Thread {
    private final int rounds;

    Worker(int rounds) {
      this.rounds = rounds;
    }

    @Override
    public void run() {
      for (int i = 0; i < 50; i++) {
        work(rounds);
        Mark.here();
      }
    }
  }

  public static void main(String[] args) throws Exception {
    List<Worker> workers = new ArrayList<>();
    for (int t = 0; t < 4; t++) {
      Worker w = new Worker(100 + t);
      workers.add(w);
      w.start();
    }
    for (Worker w : workers) {
      w.join();
    }
    ExecutorService pool = Executors.newFixedThreadPool(3);
    List<Future<?>> futures = new ArrayList<>();
    for (int task = 0; task < 12; task++) {
      futures.add(pool.submit(() -> work(10)));
    }
    for (Future<?> f : futures) {
      f.get();
    }
    pool.shutdown();
    Mark.here();
    System.out.println("threads total " + total.get());
    Mark.print();
  }
}
