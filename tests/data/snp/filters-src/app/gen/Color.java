package app.gen;

// An enum: javac adds values(), valueOf(String) and (since 15) $values().
public enum Color {
  RED,
  GREEN;

  boolean warm() {
    return this == RED;
  }
}
