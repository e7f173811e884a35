package liveapp;

import java.io.BufferedReader;
import java.io.InputStreamReader;

/**
 * The program the live viewer's test watches. It runs one phase per line read
 * from standard input and says on standard output when the phase is over, so
 * the test decides when each phase runs; between phases it is blocked in a
 * read, where none of its lines runs.
 *
 * <pre>
 * first N     Shapes.first(N)                prints "first R"
 * second N    Shapes.second(N)               prints "second R"
 * work N      Work.step() N times            prints "work N"
 * count       starts the counter thread      prints "counting", then "tick K" lines
 * stop        stops and joins it             prints "stopped K"
 * check       Check.report()                 prints what the program can see of the JVM
 * exit N      System.exit(N)
 * </pre>
 */
public final class Phases {
  private Phases() {}

  public static void main(String[] args) throws Exception {
    BufferedReader in = new BufferedReader(new InputStreamReader(System.in));
    System.out.println("ready");
    for (String line = in.readLine(); line != null; line = in.readLine()) {
      String[] words = line.trim().split(" ");
      int n = words.length > 1 ? Integer.parseInt(words[1]) : 0;
      switch (words[0]) {
        case "first":
          System.out.println("first " + Shapes.first(n));
          break;
        case "second":
          System.out.println("second " + Shapes.second(n));
          break;
        case "work":
          System.out.println("work " + Work.run(n));
          break;
        case "count":
          Counter.begin();
          System.out.println("counting");
          break;
        case "stop":
          System.out.println("stopped " + Counter.end());
          break;
        case "check":
          System.out.println(Check.report());
          break;
        case "exit":
          System.exit(n);
          break;
        default:
          System.out.println("unknown " + line);
      }
    }
  }
}
