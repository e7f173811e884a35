package liveapp;

/** Code that two phases cover in turn: each phase runs lines the other left. */
final class Shapes {
  private Shapes() {}

  static int first(int n) {
    int total = 0;
    for (int i = 0; i < n; i++) {
      total += i * 3;
    }
    return total;
  }

  static int second(int n) {
    if (n > 100) {
      return -1;
    }
    StringBuilder text = new StringBuilder();
    for (int i = 0; i < n; i++) {
      text.append(i).append(',');
    }
    return text.length() + area(n, n + 1);
  }

  static int area(int w, int h) {
    return w * h;
  }
}
