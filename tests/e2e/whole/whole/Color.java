package whole;

// An enum: values(), valueOf(String) and $values() are javac's.
public enum Color {
  RED,
  GREEN;

  boolean warm() {
    return this == RED;
  }
}
