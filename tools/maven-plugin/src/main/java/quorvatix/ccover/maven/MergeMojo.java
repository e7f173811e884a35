package quorvatix.ccover.maven;

import java.io.File;
import java.util.ArrayList;
import java.util.List;
import org.apache.maven.plugin.AbstractMojo;
import org.apache.maven.plugin.MojoExecutionException;
import org.apache.maven.plugins.annotations.LifecyclePhase;
import org.apache.maven.plugins.annotations.Mojo;
import org.apache.maven.plugins.annotations.Parameter;
import org.apache.maven.project.MavenProject;

/**
 * Merges snapshots (of modules, of unit and integration tests) into one with
 * {@code snp merge}: counters add up, classes are matched by name.
 */
@Mojo(name = "merge", defaultPhase = LifecyclePhase.VERIFY, threadSafe = true)
public class MergeMojo extends AbstractMojo {
  @Parameter(defaultValue = "${project}", readonly = true, required = true)
  MavenProject project;

  /** The snapshots to merge; those missing are skipped with a note. */
  @Parameter(required = true)
  List<File> files;

  @Parameter(property = "ccover.mergedFile",
      defaultValue = "${project.build.directory}/ccover-merged.snp")
  File destFile;

  @Parameter(property = "ccover.skip", defaultValue = "false")
  boolean skip;

  @Override
  public void execute() throws MojoExecutionException {
    if (skip) return;
    List<String> args = new ArrayList<>();
    args.add("merge");
    for (File f : files) {
      if (f.isFile()) {
        args.add(f.getPath());
      } else {
        getLog().info("ccover: " + f + " does not exist; not merged");
      }
    }
    if (args.size() == 1) {
      getLog().info("ccover: nothing to merge");
      return;
    }
    args.add("-o");
    args.add(destFile.getPath());
    File parent = destFile.getAbsoluteFile().getParentFile();
    if (parent != null && !parent.isDirectory() && !parent.mkdirs()) {
      throw new MojoExecutionException("cannot create " + parent);
    }
    Snp snp = new Snp(Natives.unpack(new File(project.getBuild().getDirectory())));
    String out = snp.runOrFail(args);
    if (!out.isBlank()) getLog().warn(out.trim());
    getLog().info("ccover: merged " + (args.size() - 3) + " snapshots into " + destFile);
  }
}
