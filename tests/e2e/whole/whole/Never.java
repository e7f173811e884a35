package whole;

// A class the program never loads: all of it is missed.
public final class Never {
  private Never() {}

  static int touch() {
    int sum = 0;
    for (int i = 0; i < 3; i++) {
      sum += i;
    }
    return sum;
  }
}
