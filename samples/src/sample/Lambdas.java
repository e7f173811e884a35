package sample;

import java.util.ArrayList;
import java.util.List;
import java.util.function.IntBinaryOperator;
import java.util.function.Supplier;
import java.util.stream.Collectors;
import java.util.stream.IntStream;

/** Lambdas, capturing lambdas, method references and streams. */
public final class Lambdas {
  private Lambdas() {}

  static int square(int x) {
    Mark.entered();
    return x * x;
  }

  public static void main(String[] args) {
    List<Integer> squares = IntStream.range(0, 12)
        .map(Lambdas::square)
        .filter(x -> {
          Mark.here();
          return x % 2 == 0;
        })
        .boxed()
        .collect(Collectors.toList());
    int base = squares.size();
    IntBinaryOperator add = (x, y) -> {
      Mark.here();
      return x + y + base;
    };
    int sum = 0;
    for (int i = 0; i < 5; i++) {
      sum = add.applyAsInt(sum, i);
    }
    List<Supplier<String>> suppliers = new ArrayList<>();
    for (int i = 0; i < 3; i++) {
      final int n = i;
      suppliers.add(() -> {
        Mark.here();
        return "s" + n;
      });
    }
    StringBuilder text = new StringBuilder();
    for (Supplier<String> s : suppliers) {
      text.append(s.get());
    }
    Runnable never = () -> System.out.println("never");
    Mark.here();
    System.out.println("lambdas " + squares + " " + sum + " " + text + " " + (never != null));
    Mark.print();
  }
}
