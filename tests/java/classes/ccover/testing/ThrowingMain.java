package ccover.testing;

/** A main class that fails with an exception. */
public class ThrowingMain {
  public static void main(String[] args) {
    throw new IllegalStateException("ThrowingMain failed on purpose");
  }
}
