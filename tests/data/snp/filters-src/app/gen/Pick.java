package app.gen;

// A switch over an enum (javac's switch-map class Pick$1) and a bridge
// method (compareTo(Object) for compareTo(Pick)).
public class Pick implements Comparable<Pick> {
  int of(Color c) {
    switch (c) {
      case RED:
        return 1;
      default:
        return 2;
    }
  }

  @Override
  public int compareTo(Pick other) {
    return 0;
  }
}
