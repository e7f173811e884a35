package quorvatix.ccover.maven;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.StandardCopyOption;
import org.apache.maven.plugin.MojoExecutionException;

/**
 * The native runtime, the agent and snp that ship inside the plugin, unpacked
 * into one folder per platform under the project's build folder. The runtime
 * finds cci.jar, ccover.jar and libccover.so beside itself there.
 */
final class Natives {
  static final String[] FILES = {"libcci.so", "cci.jar", "libccover.so", "ccover.jar", "snp"};

  private Natives() {}

  /** linux-x64 or linux-x86, from the JVM that runs Maven. */
  static String platform() throws MojoExecutionException {
    String os = System.getProperty("os.name", "").toLowerCase();
    String arch = System.getProperty("os.arch", "");
    if (!os.startsWith("linux")) {
      throw new MojoExecutionException("ccover's plugin ships Linux libraries only; this is " + os);
    }
    if (arch.equals("amd64") || arch.equals("x86_64")) return "linux-x64";
    if (arch.equals("i386") || arch.equals("i686") || arch.equals("x86")) return "linux-x86";
    throw new MojoExecutionException("ccover's plugin has no libraries for " + arch);
  }

  /**
   * The folder holding this platform's files, unpacked when missing or when
   * the plugin's copy differs in size (a rebuilt plugin).
   */
  static File unpack(File buildDir) throws MojoExecutionException {
    String platform = platform();
    File dir = new File(buildDir, "ccover/" + platform);
    if (!dir.isDirectory() && !dir.mkdirs()) {
      throw new MojoExecutionException("cannot create " + dir);
    }
    for (String name : FILES) {
      String resource = "/ccover-natives/" + platform + "/" + name;
      File target = new File(dir, name);
      try (InputStream in = Natives.class.getResourceAsStream(resource)) {
        if (in == null) {
          throw new MojoExecutionException("this plugin was built without " + resource
              + " (scripts/maven-plugin packs what build/" + platform + " holds)");
        }
        File part = new File(dir, name + ".part");
        Files.copy(in, part.toPath(), StandardCopyOption.REPLACE_EXISTING);
        if (name.equals("snp")) part.setExecutable(true);
        Files.move(part.toPath(), target.toPath(), StandardCopyOption.REPLACE_EXISTING,
            StandardCopyOption.ATOMIC_MOVE);
      } catch (IOException e) {
        throw new MojoExecutionException("cannot unpack " + resource + " into " + dir + ": " + e, e);
      }
    }
    return dir;
  }
}
