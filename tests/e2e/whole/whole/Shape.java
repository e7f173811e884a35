package whole;

// An interface with a default and a static method beside an abstract one.
public interface Shape {
  int area();

  default String describe() {
    return "area " + area();
  }

  static Shape unit() {
    return new Square(1);
  }

  default boolean empty() {
    return area() == 0;
  }
}
