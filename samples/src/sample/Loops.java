package sample;

/** for, while, do-while, nested loops, break and continue. */
public final class Loops {
  private Loops() {}

  public static void main(String[] args) {
    long sum = 0;
    for (int i = 0; i < 10; i++) {
      Mark.here();
      sum += i;
    }
    int j = 0;
    while (j < 7) {
      Mark.here();
      j += 2;
    }
    int k = 0;
    do {
      Mark.here();
      k++;
    } while (k < 3);
    for (int a = 0; a < 4; a++) {
      for (int b = 0; b < 5; b++) {
        if (b == 3) {
          Mark.here();
          break;
        }
        if ((a + b) % 2 == 1) {
          Mark.here();
          continue;
        }
        sum += a * b;
        Mark.here();
      }
    }
    int[] values = {3, 1, 4, 1, 5, 9, 2, 6};
    for (int v : values) {
      Mark.here();
      sum += v;
    }
    Mark.here();
    System.out.println("loops sum " + sum);
    Mark.print();
  }
}
