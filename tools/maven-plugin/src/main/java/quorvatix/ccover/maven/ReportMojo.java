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
 * Writes snp's reports of the destfile into target/site/ccover: html/ (with the
 * sources of the first compile source root), jacoco.xml, cobertura.xml and
 * lcov.info. When this snp reads class files ({@code --classes}), the
 * project's output folder is given, so classes no test loaded count as missed.
 */
@Mojo(name = "report", defaultPhase = LifecyclePhase.VERIFY, threadSafe = true)
public class ReportMojo extends AbstractMojo {
  @Parameter(defaultValue = "${project}", readonly = true, required = true)
  MavenProject project;

  @Parameter(property = "ccover.dataFile", defaultValue = "${project.build.directory}/ccover.snp")
  File dataFile;

  @Parameter(property = "ccover.outputDirectory",
      defaultValue = "${project.reporting.outputDirectory}/ccover")
  File outputDirectory;

  @Parameter(property = "ccover.skip", defaultValue = "false")
  boolean skip;

  @Override
  public void execute() throws MojoExecutionException {
    if (skip) return;
    if (!dataFile.isFile()) {
      getLog().info("ccover: no " + dataFile + ": no tests ran under the agent; no report");
      return;
    }
    if (!outputDirectory.isDirectory() && !outputDirectory.mkdirs()) {
      throw new MojoExecutionException("cannot create " + outputDirectory);
    }
    Snp snp = new Snp(Natives.unpack(new File(project.getBuild().getDirectory())));
    List<String> classes = classesOption(snp, "html", project);
    String sources = firstSourceRoot(project);

    List<String> html = args("html", dataFile, new File(outputDirectory, "html"));
    if (sources != null) {
      html.add("--source-root");
      html.add(sources);
    }
    html.add("--title");
    html.add(project.getName() != null ? project.getName() : project.getArtifactId());
    html.addAll(classes);
    snp.runOrFail(html);

    List<String> jacoco = args("jacoco", dataFile, new File(outputDirectory, "jacoco.xml"));
    jacoco.addAll(classesOption(snp, "jacoco", project));
    snp.runOrFail(jacoco);

    List<String> cobertura = args("cobertura", dataFile, new File(outputDirectory, "cobertura.xml"));
    if (sources != null) {
      cobertura.add("--source-root");
      cobertura.add(sources);
    }
    cobertura.addAll(classesOption(snp, "cobertura", project));
    snp.runOrFail(cobertura);

    List<String> lcov = args("lcov", dataFile, new File(outputDirectory, "lcov.info"));
    if (sources != null) {
      lcov.add("--source-root");
      lcov.add(sources);
    }
    lcov.addAll(classesOption(snp, "lcov", project));
    snp.runOrFail(lcov);
    getLog().info("ccover: reports in " + outputDirectory);
  }

  static List<String> args(String command, File input, File output) {
    List<String> a = new ArrayList<>();
    a.add(command);
    a.add(input.getPath());
    a.add("-o");
    a.add(output.getPath());
    return a;
  }

  /** --classes DIR when this snp's command takes it and the folder exists. */
  static List<String> classesOption(Snp snp, String command, MavenProject project)
      throws MojoExecutionException {
    List<String> a = new ArrayList<>();
    File classes = new File(project.getBuild().getOutputDirectory());
    if (classes.isDirectory() && snp.offers(command, "--classes")) {
      a.add("--classes");
      a.add(classes.getPath());
    }
    return a;
  }

  static String firstSourceRoot(MavenProject project) {
    for (String root : project.getCompileSourceRoots()) {
      if (new File(root).isDirectory()) return root;
    }
    return null;
  }
}
