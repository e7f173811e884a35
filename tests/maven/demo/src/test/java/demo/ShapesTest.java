package demo;

import static org.junit.Assert.assertTrue;

import java.nio.file.Files;
import java.nio.file.Paths;
import org.junit.Test;

/** Calls Shapes.square exactly 7 times and prints to standard output, as tests do. */
public class ShapesTest {
  @Test
  public void calls7Times() throws Exception {
    int sum = 0;
    for (int i = 0; i < 7; i++) {
      Object r = Shapes.square(i);
      sum += r.hashCode() == Integer.MIN_VALUE ? 0 : 1;
    }
    assertTrue(sum == 7);
    System.out.println("ShapesTest ran in " + ProcessHandle.current().pid());
    Files.createDirectories(Paths.get("target/pids"));
    Files.write(Paths.get("target/pids/ShapesTest"),
        Long.toString(ProcessHandle.current().pid()).getBytes());
  }
}
