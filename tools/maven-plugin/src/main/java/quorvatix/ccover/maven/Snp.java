package quorvatix.ccover.maven;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import org.apache.maven.plugin.MojoExecutionException;

/** Runs the snp that ships inside the plugin. */
final class Snp {
  /** A finished run: exit code and both streams together. */
  static final class Result {
    final int exitCode;
    final String output;

    Result(int exitCode, String output) {
      this.exitCode = exitCode;
      this.output = output;
    }
  }

  private final File executable;

  Snp(File nativesDir) {
    this.executable = new File(nativesDir, "snp");
  }

  Result run(List<String> args) throws MojoExecutionException {
    List<String> command = new ArrayList<>();
    command.add(executable.getPath());
    command.addAll(args);
    try {
      Process p = new ProcessBuilder(command).redirectErrorStream(true).start();
      p.getOutputStream().close();
      ByteArrayOutputStream out = new ByteArrayOutputStream();
      try (InputStream in = p.getInputStream()) {
        in.transferTo(out);
      }
      return new Result(p.waitFor(), out.toString(StandardCharsets.UTF_8));
    } catch (IOException e) {
      throw new MojoExecutionException("cannot run " + command + ": " + e, e);
    } catch (InterruptedException e) {
      Thread.currentThread().interrupt();
      throw new MojoExecutionException("interrupted while running " + command, e);
    }
  }

  /** Runs and fails the build on any exit code but 0, with snp's output. */
  String runOrFail(List<String> args) throws MojoExecutionException {
    Result r = run(args);
    if (r.exitCode != 0) {
      throw new MojoExecutionException("snp " + String.join(" ", args) + " failed (exit code "
          + r.exitCode + "):\n" + r.output.trim());
    }
    return r.output;
  }

  /** Whether this snp has the command, and the option in that command's help. */
  boolean offers(String command, String option) throws MojoExecutionException {
    // The command list of the top-level help: "  check   Text...". (An
    // unknown command's --help prints that same help and exits 0.)
    Result top = run(List.of("--help"));
    if (!java.util.regex.Pattern.compile("(?m)^\\s+" + java.util.regex.Pattern.quote(command)
        + "\\s").matcher(top.output).find()) {
      return false;
    }
    if (option == null) return true;
    Result r = run(List.of(command, "--help"));
    return r.exitCode == 0 && r.output.contains(option);
  }
}
