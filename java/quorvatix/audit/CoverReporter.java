package quorvatix.audit;

import java.io.IOException;
import java.io.OutputStream;

/**
 * Receives a snapshot streamed by the agent to a remote viewer: one open, the
 * file in chunks with a progress percentage, one close. Subclasses may
 * override any step.
 */
public class CoverReporter {
  public void openRemotely(String name, OutputStream out) {}

  public void writeRemotely(byte[] chunk, int length, int progress, OutputStream out) {
    try {
      out.write(chunk, 0, length);
    } catch (IOException e) {
      throw new RuntimeException(e);
    }
  }

  public void closeRemotely(OutputStream out) {
    try {
      out.flush();
    } catch (IOException e) {
      throw new RuntimeException(e);
    }
  }
}
