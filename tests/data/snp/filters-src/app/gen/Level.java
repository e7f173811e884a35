package app.gen;

// An enum with a constructor of its own: the programmer's, never filtered.
public enum Level {
  LOW;

  final long created;

  Level() {
    created = System.nanoTime();
  }
}
