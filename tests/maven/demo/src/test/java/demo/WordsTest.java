package demo;

import static org.junit.Assert.assertTrue;

import java.nio.file.Files;
import java.nio.file.Paths;
import org.junit.Test;

/** Calls Words.count exactly 11 times and prints to standard output, as tests do. */
public class WordsTest {
  @Test
  public void calls11Times() throws Exception {
    int sum = 0;
    for (int i = 0; i < 11; i++) {
      Object r = Words.count("a b");
      sum += r.hashCode() == Integer.MIN_VALUE ? 0 : 1;
    }
    assertTrue(sum == 11);
    System.out.println("WordsTest ran in " + ProcessHandle.current().pid());
    Files.createDirectories(Paths.get("target/pids"));
    Files.write(Paths.get("target/pids/WordsTest"),
        Long.toString(ProcessHandle.current().pid()).getBytes());
  }
}
