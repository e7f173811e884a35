package sample;

/** Dense and sparse int switches, a string switch and an enum switch. */
public final class Switch {
  private Switch() {}

  enum Color { RED, GREEN, BLUE }

  static int dense(int n) {
    switch (n) {
      case 0:
        Mark.here();
        return 10;
      case 1:
      case 2:
        Mark.here();
        return 20;
      case 3:
        Mark.here();
        // fall through
      case 4:
        Mark.here();
        return 40;
      default:
        Mark.here();
        return 0;
    }
  }

  static int sparse(int n) {
    switch (n) {
      case -1000:
        Mark.here();
        return 1;
      case 7:
        Mark.here();
        return 2;
      case 100000:
        Mark.here();
        return 3;
      default:
        return 0;
    }
  }

  static int named(String s) {
    switch (s) {
      case "alpha":
        Mark.here();
        return 1;
      case "beta":
        Mark.here();
        return 2;
      default:
        Mark.here();
        return 0;
    }
  }

  static int color(Color c) {
    switch (c) {
      case RED:
        Mark.here();
        return 1;
      case BLUE:
        Mark.here();
        return 3;
      default:
        return 2;
    }
  }

  public static void main(String[] args) {
    int total = 0;
    for (int n = -1; n < 7; n++) {
      total += dense(n);
    }
    int[] keys = {-1000, 7, 7, 100000, 5};
    for (int k : keys) {
      total += sparse(k);
    }
    String[] names = {"alpha", "beta", "beta", "gamma"};
    for (String s : names) {
      total += named(s);
    }
    for (Color c : Color.values()) {
      total += color(c);
    }
    Mark.here();
    System.out.println("switch total " + total);
    Mark.print();
  }
}
