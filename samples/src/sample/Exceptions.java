package sample;

import java.io.Closeable;

/** try/catch/finally, exceptions thrown by callees, multi-catch, try-with-resources. */
public final class Exceptions {
  private Exceptions() {}

  static int check(int n) {
    Mark.entered();
    if (n % 3 == 0) {
      Mark.here();
      throw new IllegalArgumentException("multiple of three: " + n);
    }
    Mark.here();
    return n;
  }

  static int parse(String text) {
    try {
      Mark.here();
      return Integer.parseInt(text);
    } catch (NumberFormatException e) {
      Mark.here();
      return -1;
    } finally {
      Mark.here();
    }
  }

  static final class Resource implements Closeable {
    static int closed;

    @Override
    public void close() {
      Mark.entered();
      closed++;
    }
  }

  public static void main(String[] args) {
    int caught = 0;
    for (int n = 1; n <= 10; n++) {
      try {
        check(n);
        Mark.here();
      } catch (IllegalArgumentException e) {
        Mark.here();
        caught++;
      }
    }
    int parsed = parse("12") + parse("x") + parse("7") + parse("");
    for (int i = 0; i < 3; i++) {
      try {
        Object o = i == 1 ? null : "s";
        if (i == 2) {
          throw new IllegalStateException();
        }
        o.hashCode();
        Mark.here();
      } catch (NullPointerException | IllegalStateException e) {
        Mark.here();
      }
    }
    for (int i = 0; i < 4; i++) {
      // One line: javac files the generated close() under the closing brace.
      try (Resource r = new Resource()) { Mark.here(); }
    }
    Mark.here();
    System.out.println("exceptions caught " + caught + " parsed " + parsed + " closed "
        + Resource.closed);
    Mark.print();
  }
}
