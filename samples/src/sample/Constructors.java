package sample;

/** Constructors: super calls, this() chaining, field initialisers, initialiser blocks. */
public final class Constructors {
  private Constructors() {}

  static class Base {
    protected final int size;
    protected String label = makeLabel();

    {
      Mark.here();
    }

    Base(int size) {
      super();
      Mark.here();
      this.size = size;
    }

    Base() {
      this(defaultSize());
      Mark.here();
    }

    static int defaultSize() {
      Mark.entered();
      return 4;
    }

    String makeLabel() {
      Mark.entered();
      return "base";
    }
  }

  static final class Derived extends Base {
    private final int[] cells = new int[size];

    Derived(int size) {
      super(size < 0 ? -size : size);
      Mark.here();
    }

    Derived() {
      Mark.here();
    }

    int cells() {
      return cells.length;
    }
  }

  public static void main(String[] args) {
    int total = 0;
    for (int i = -2; i < 3; i++) {
      total += new Derived(i).cells();
    }
    total += new Derived().cells();
    total += new Base().size;
    Mark.here();
    System.out.println("constructors total " + total);
    Mark.print();
  }
}
