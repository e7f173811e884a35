package quorvatix.ccover.maven;

import java.io.File;
import java.util.ArrayList;
import java.util.List;
import org.apache.maven.plugin.AbstractMojo;
import org.apache.maven.plugin.MojoExecutionException;
import org.apache.maven.plugin.MojoFailureException;
import org.apache.maven.plugins.annotations.LifecyclePhase;
import org.apache.maven.plugins.annotations.Mojo;
import org.apache.maven.plugins.annotations.Parameter;
import org.apache.maven.project.MavenProject;

/**
 * Fails the build when the destfile's coverage is below a threshold, through
 * {@code snp check} (exit code 3 when a threshold is not met, with what fell
 * short). Thresholds are percentages of line slots and of methods.
 */
@Mojo(name = "check", defaultPhase = LifecyclePhase.VERIFY, threadSafe = true)
public class CheckMojo extends AbstractMojo {
  /** snp check's exit code for a threshold not met. */
  static final int BELOW_THRESHOLD = 3;

  @Parameter(defaultValue = "${project}", readonly = true, required = true)
  MavenProject project;

  @Parameter(property = "ccover.dataFile", defaultValue = "${project.build.directory}/ccover.snp")
  File dataFile;

  /** Least line coverage, in percent (unset: not checked). */
  @Parameter(property = "ccover.lineMinimum")
  Double lineMinimum;

  /** Least method coverage, in percent (unset: not checked). */
  @Parameter(property = "ccover.methodMinimum")
  Double methodMinimum;

  @Parameter(property = "ccover.skip", defaultValue = "false")
  boolean skip;

  @Override
  public void execute() throws MojoExecutionException, MojoFailureException {
    if (skip) return;
    if (lineMinimum == null && methodMinimum == null) {
      getLog().info("ccover: no <lineMinimum> or <methodMinimum>: nothing to check");
      return;
    }
    if (!dataFile.isFile()) {
      throw new MojoFailureException("ccover: no " + dataFile + " to check: did prepare-agent run "
          + "before the tests?");
    }
    Snp snp = new Snp(Natives.unpack(new File(project.getBuild().getDirectory())));
    if (!snp.offers("check", null)) {
      throw new MojoExecutionException("ccover: this plugin's snp has no check command");
    }
    List<String> args = new ArrayList<>();
    args.add("check");
    args.add(dataFile.getPath());
    if (lineMinimum != null) {
      args.add("--line");
      args.add(number(lineMinimum));
    }
    if (methodMinimum != null) {
      args.add("--method");
      args.add(number(methodMinimum));
    }
    args.addAll(ReportMojo.classesOption(snp, "check", project));
    Snp.Result r = snp.run(args);
    if (r.exitCode == BELOW_THRESHOLD) {
      throw new MojoFailureException("ccover: coverage below the thresholds:\n" + r.output.trim());
    }
    if (r.exitCode != 0) {
      throw new MojoExecutionException("snp " + String.join(" ", args) + " failed (exit code "
          + r.exitCode + "):\n" + r.output.trim());
    }
    getLog().info("ccover: " + (r.output.isBlank() ? "coverage meets the thresholds" : r.output.trim()));
  }

  static String number(double value) {
    return value == Math.rint(value) ? Long.toString((long) value) : Double.toString(value);
  }
}
