package app.tools;

public class Café {
  String name = "café";
}
