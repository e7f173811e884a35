package workload;

import java.util.ArrayList;
import java.util.Collections;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/**
 * A CPU-bound program for measuring the cost of coverage: collections, string
 * building and arithmetic loops, in small methods called very often, as in
 * ordinary application code. Prints a checksum, so that every variant of a run
 * can be seen to compute the same thing.
 *
 * <p>Usage: Workload [rounds] (default 12).
 */
public final class Workload {
  private Workload() {}

  static int collatzSteps(long n) {
    int steps = 0;
    while (n != 1) {
      n = (n & 1) == 0 ? n >> 1 : 3 * n + 1;
      steps++;
    }
    return steps;
  }

  static long arithmetic(int limit) {
    long sum = 0;
    for (int i = 1; i < limit; i++) {
      sum += collatzSteps(i);
    }
    return sum;
  }

  static boolean isPrime(int n) {
    if (n < 2) {
      return false;
    }
    for (int d = 2; (long) d * d <= n; d++) {
      if (n % d == 0) {
        return false;
      }
    }
    return true;
  }

  static long primes(int limit) {
    long count = 0;
    for (int n = 0; n < limit; n++) {
      if (isPrime(n)) {
        count += n;
      }
    }
    return count;
  }

  static final class Point implements Comparable<Point> {
    final int x;
    final int y;

    Point(int x, int y) {
      this.x = x;
      this.y = y;
    }

    int distance() {
      return Math.abs(x) + Math.abs(y);
    }

    @Override
    public int compareTo(Point other) {
      return Integer.compare(distance(), other.distance());
    }
  }

  static long collections(int size) {
    List<Point> points = new ArrayList<>();
    long seed = 42;
    for (int i = 0; i < size; i++) {
      seed = seed * 6364136223846793005L + 1442695040888963407L;
      points.add(new Point((int) (seed >>> 40) % 1000, (int) (seed >>> 20) % 1000));
    }
    Collections.sort(points);
    Map<Integer, Integer> histogram = new HashMap<>();
    for (Point p : points) {
      histogram.merge(p.distance() / 100, 1, Integer::sum);
    }
    long total = 0;
    for (Map.Entry<Integer, Integer> e : histogram.entrySet()) {
      total += (long) e.getKey() * e.getValue();
    }
    return total + points.get(size / 2).distance();
  }

  static String word(int n) {
    StringBuilder b = new StringBuilder();
    do {
      b.append((char) ('a' + n % 26));
      n /= 26;
    } while (n > 0);
    return b.toString();
  }

  static long strings(int count) {
    StringBuilder text = new StringBuilder();
    for (int i = 0; i < count; i++) {
      text.append(word(i)).append(i % 7 == 0 ? '\n' : ' ');
    }
    long checksum = 0;
    for (String line : text.toString().split("\n")) {
      for (String w : line.split(" ")) {
        checksum += w.length() * 31L + (w.isEmpty() ? 0 : w.charAt(0));
      }
    }
    return checksum;
  }

  public static void main(String[] args) {
    int rounds = args.length > 0 ? Integer.parseInt(args[0]) : 12;
    long checksum = 0;
    for (int r = 0; r < rounds; r++) {
      checksum += arithmetic(300_000);
      checksum += primes(200_000);
      checksum += collections(200_000);
      checksum += strings(200_000);
    }
    System.out.println("workload checksum " + checksum);
  }
}
