package app.tools;

public class Main {

  public static void main(String[] args) {
    int a = 1; int b = 2;
    System.out.println(a + b);

    new Helper();
  }

  int unused(int x) {
    return x;
  }
  class Helper {
    String help() {
      return "h";
    }
  }
}
