package demo;

import static org.junit.Assert.assertTrue;

import java.nio.file.Files;
import java.nio.file.Paths;
import org.junit.Test;

/** Calls Primes.isPrime exactly 13 times and prints to standard output, as tests do. */
public class PrimesTest {
  @Test
  public void calls13Times() throws Exception {
    int sum = 0;
    for (int i = 0; i < 13; i++) {
      Object r = Primes.isPrime(i);
      sum += r.hashCode() == Integer.MIN_VALUE ? 0 : 1;
    }
    assertTrue(sum == 13);
    System.out.println("PrimesTest ran in " + ProcessHandle.current().pid());
    Files.createDirectories(Paths.get("target/pids"));
    Files.write(Paths.get("target/pids/PrimesTest"),
        Long.toString(ProcessHandle.current().pid()).getBytes());
  }
}
