package app.gen;

// A record: javac generates equals, hashCode and toString (one invokedynamic
// each), the accessors x() and y() and the canonical constructor.
public record Point(int x, int y) {
  int sum() {
    return x + y;
  }
}
