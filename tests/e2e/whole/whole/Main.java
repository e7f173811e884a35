package whole;

import java.io.StringReader;
import java.util.function.IntUnaryOperator;

// Runs a little of everything the JaCoCo comparison covers; some lines are
// left unrun on purpose, and Never is never loaded.
public final class Main {
  private Main() {}

  public static void main(String[] args) throws Exception {
    Shape square = new Square(2);
    System.out.println(square.area() + " " + square.describe() + " " + Shape.unit().area());
    System.out.println(Color.RED.warm() + " " + Color.valueOf("GREEN").warm());
    Point p = new Point(1, 2);
    System.out.println(p.sum() + " " + p.equals(new Point(1, 2)) + " " + p);
    System.out.println(read("abc") + " " + guarded(3) + " " + guarded(-1));
    IntUnaryOperator twice = x -> x * 2;
    IntUnaryOperator never = x -> x - 1;
    System.out.println(twice.applyAsInt(21));
    if (args.length > 5) {
      System.out.println(never.applyAsInt(Never.touch()));
    }
  }

  static int read(String text) throws Exception {
    int n = 0;
    try (StringReader in = new StringReader(text)) {
      n = in.read();
    } finally {
      n++;
    }
    return n;
  }

  static int guarded(int x) {
    try {
      if (x < 0) {
        throw new IllegalArgumentException("negative");
      }
      return x;
    } catch (IllegalArgumentException e) {
      return 0;
    } finally {
      System.out.println("done " + x);
    }
  }
}
