package whole;

// A record: equals, hashCode and toString are javac's (one invokedynamic each).
public record Point(int x, int y) {
  int sum() {
    return x + y;
  }
}
