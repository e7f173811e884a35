package quorvatix.ccover.maven;

import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Properties;
import java.util.TreeSet;
import java.util.stream.Stream;
import org.apache.maven.plugin.AbstractMojo;
import org.apache.maven.plugin.MojoExecutionException;
import org.apache.maven.plugins.annotations.LifecyclePhase;
import org.apache.maven.plugins.annotations.Mojo;
import org.apache.maven.plugins.annotations.Parameter;
import org.apache.maven.project.MavenProject;

/**
 * Puts the ccover runtime into the test JVMs: appends
 * {@code -agentpath:.../libcci.so=destfile=...,includes=...} to the property
 * that Surefire and Failsafe read their JVM arguments from ({@code argLine}).
 *
 * <p>Runs after the main classes are compiled (process-classes), so that the
 * default includes name exactly the project's own classes: test classes, even
 * in the same packages, are not instrumented. Every fork appends its run to
 * one destfile under target/, under a file lock, and prints nothing on
 * standard output.
 */
@Mojo(name = "prepare-agent", defaultPhase = LifecyclePhase.PROCESS_CLASSES, threadSafe = true)
public class PrepareAgentMojo extends AbstractMojo {
  /** Longest includes option before classes are grouped by package. */
  static final int MAX_INCLUDES_CHARS = 32000;

  @Parameter(defaultValue = "${project}", readonly = true, required = true)
  MavenProject project;

  /** The snapshot every test JVM appends its run to. */
  @Parameter(property = "ccover.destFile", defaultValue = "${project.build.directory}/ccover.snp")
  File destFile;

  /** Merge each run into an existing destFile (false: each JVM replaces it). */
  @Parameter(property = "ccover.append", defaultValue = "true")
  boolean append;

  /** The property the agent argument is appended to. */
  @Parameter(property = "ccover.propertyName", defaultValue = "argLine")
  String propertyName;

  /**
   * Classes to instrument, dotted patterns ({@code app.*}, {@code app.Main});
   * default: every class in the project's output folder.
   */
  @Parameter List<String> includes;

  /** Classes never to instrument. */
  @Parameter List<String> excludes;

  /** Text stored as the snapshot's comment (no commas). */
  @Parameter(property = "ccover.sessionId")
  String sessionId;

  @Parameter(property = "ccover.skip", defaultValue = "false")
  boolean skip;

  @Override
  public void execute() throws MojoExecutionException {
    if (skip) {
      getLog().info("ccover: skipped");
      return;
    }
    File natives = Natives.unpack(new File(project.getBuild().getDirectory()));
    List<String> patterns = includes != null && !includes.isEmpty()
        ? includes
        : ownClasses(new File(project.getBuild().getOutputDirectory()));
    String agent = agentArgument(natives, destFile, append, patterns, excludes, sessionId);
    Properties props = project.getProperties();
    String old = props.getProperty(propertyName);
    String value = old == null || old.isBlank() ? agent : old + " " + agent;
    props.setProperty(propertyName, value);
    getLog().info("ccover: " + propertyName + " set to " + value);
  }

  /** The -agentpath argument, quoted for Surefire when a path has a space. */
  static String agentArgument(File natives, File destFile, boolean append, List<String> includes,
      List<String> excludes, String sessionId) throws MojoExecutionException {
    StringBuilder options = new StringBuilder();
    options.append("destfile=").append(checked(destFile.getAbsolutePath(), "destFile"));
    if (!append) options.append(",append=false");
    if (includes != null && !includes.isEmpty()) {
      options.append(",includes=").append(checked(String.join(":", includes), "includes"));
    }
    if (excludes != null && !excludes.isEmpty()) {
      options.append(",excludes=").append(checked(String.join(":", excludes), "excludes"));
    }
    if (sessionId != null && !sessionId.isEmpty()) {
      options.append(",sessionid=").append(checked(sessionId, "sessionId"));
    }
    String arg = "-agentpath:" + new File(natives, "libcci.so").getAbsolutePath() + "=" + options;
    return arg.indexOf(' ') >= 0 ? "\"" + arg + "\"" : arg;
  }

  private static String checked(String value, String what) throws MojoExecutionException {
    if (value.indexOf(',') >= 0 || value.indexOf('"') >= 0) {
      throw new MojoExecutionException("ccover: " + what + " \"" + value
          + "\" has a ',' or '\"', which the runtime's option text can't carry");
    }
    return value;
  }

  /**
   * The dotted names of the classes under the output folder; grouped into
   * package patterns when the list would be too long for a command line.
   */
  List<String> ownClasses(File classes) throws MojoExecutionException {
    TreeSet<String> names = new TreeSet<>();
    TreeSet<String> packages = new TreeSet<>();
    if (classes.isDirectory()) {
      Path root = classes.toPath();
      try (Stream<Path> files = Files.walk(root)) {
        files.filter(p -> p.toString().endsWith(".class")).forEach(p -> {
          String rel = root.relativize(p).toString().replace(File.separatorChar, '.');
          String name = rel.substring(0, rel.length() - ".class".length());
          names.add(name);
          int dot = name.lastIndexOf('.');
          packages.add(dot < 0 ? name : name.substring(0, dot) + ".*");
        });
      } catch (IOException e) {
        throw new MojoExecutionException("cannot list " + classes + ": " + e, e);
      }
    }
    names.remove("module-info");
    if (names.isEmpty()) {
      getLog().warn("ccover: no classes in " + classes + " to include; every class the tests "
          + "load is instrumented (set <includes>)");
      return new ArrayList<>();
    }
    if (String.join(":", names).length() <= MAX_INCLUDES_CHARS) return new ArrayList<>(names);
    getLog().warn("ccover: " + names.size() + " classes: included by package, so tests in the "
        + "same packages are instrumented too (set <includes> or <excludes>)");
    return new ArrayList<>(packages);
  }
}
