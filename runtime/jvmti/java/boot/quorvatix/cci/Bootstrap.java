package quorvatix.cci;

import java.lang.reflect.Method;
import java.util.jar.JarFile;
import java.util.jar.Manifest;

/**
 * What the runtime does in Java at VM init: naming the main class of a jar, and
 * starting the coverage agent's Java side. Nothing here runs while classes load.
 */
public final class Bootstrap {
  private Bootstrap() {}

  /** The Main-Class of a jar, or null. */
  public static String mainClassOfJar(String path) {
    try (JarFile jar = new JarFile(path)) {
      Manifest manifest = jar.getManifest();
      return manifest == null ? null : manifest.getMainAttributes().getValue("Main-Class");
    } catch (Exception e) {
      return null;
    }
  }

  /** Starts the agent's Java side, as quorvatix.audit.CoverMain.main would. */
  public static void startAgent(boolean ignoreShutdown, boolean snapshotAtExit) throws Exception {
    Class<?> coverMain =
        Class.forName("quorvatix.audit.CoverMain", true, ClassLoader.getSystemClassLoader());
    Method start = coverMain.getMethod("start", Object.class, boolean.class, boolean.class);
    start.invoke(null, null, ignoreShutdown, snapshotAtExit);
  }
}
