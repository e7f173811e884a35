package sample;

/** Static initialisers: run once per class, lazily, in textual order. */
public final class StaticInit {
  static final int[] TABLE;
  static int initCount;

  static {
    Mark.here();
    TABLE = new int[8];
    for (int i = 0; i < TABLE.length; i++) {
      TABLE[i] = i * i;
    }
    initCount++;
  }

  private StaticInit() {}

  static final class Lazy {
    static final String VALUE = compute();

    static {
      Mark.here();
    }

    static String compute() {
      Mark.entered();
      return "lazy";
    }
  }

  static final class NeverUsed {
    static {
      System.out.println("never");
    }
  }

  public static void main(String[] args) {
    int sum = 0;
    for (int i = 0; i < 3; i++) {
      sum += TABLE[i] + Lazy.VALUE.length();
    }
    Mark.here();
    System.out.println("static init " + sum + " " + initCount);
    Mark.print();
  }
}
