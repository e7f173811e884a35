package ccover.testing;

import java.io.OutputStream;

/** A reporter whose writeRemotely fails on a given call (1 = the first). */
public class ThrowingReporter extends RecordingReporter {
  private final int failingWrite;
  private int writes;

  public ThrowingReporter(int failingWrite) {
    this.failingWrite = failingWrite;
  }

  @Override
  public void writeRemotely(byte[] chunk, int length, int progress, OutputStream out) {
    super.writeRemotely(chunk, length, progress, out);
    if (++writes == failingWrite) {
      throw new IllegalStateException("viewer went away");
    }
  }
}
