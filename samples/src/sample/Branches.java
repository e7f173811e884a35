package sample;

/** if/else chains, conditions with && and ||, the conditional operator. */
public final class Branches {
  private Branches() {}

  static String classify(int n) {
    Mark.entered();
    if (n < 0) {
      Mark.here();
      return "negative";
    } else if (n == 0) {
      Mark.here();
      return "zero";
    }
    if (n % 2 == 0 && n % 3 == 0) {
      Mark.here();
      return "six";
    } else if (n % 2 == 0 || n % 5 == 0) {
      Mark.here();
      return "even or five";
    }
    String kind = n > 10 ? "big" : "small";
    Mark.here();
    return kind;
  }

  static int neverCalled(int n) {
    return n * 2;
  }

  public static void main(String[] args) {
    int total = 0;
    for (int n = -3; n <= 20; n++) {
      total += classify(n).length();
    }
    if (total < 0) {
      System.out.println("impossible");
    }
    Mark.here();
    System.out.println("branches total " + total);
    Mark.print();
  }
}
