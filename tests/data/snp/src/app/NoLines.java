package app;

public class NoLines {
  void a() {}
  void b() {}
}
