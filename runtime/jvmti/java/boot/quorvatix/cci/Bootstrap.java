package quorvatix.cci;

import java.io.File;
import java.lang.reflect.Method;
import java.net.URL;
import java.net.URLClassLoader;
import java.util.ArrayList;
import java.util.List;
import java.util.jar.JarFile;
import java.util.jar.Manifest;

/**
 * What the runtime does in Java at VM init: loading the instrumenter in a class
 * loader of its own, naming the main class of a jar, and starting the coverage
 * agent's Java side.
 */
public final class Bootstrap {
  private Bootstrap() {}

  /**
   * Loads quorvatix.cci.Instrumenter from the given jars (separated by the
   * platform's path separator) in a new loader whose parent is the boot
   * loader: the program's own copy of ASM, if any, never meets ours.
   */
  public static Class<?> loadInstrumenter(String jars) throws Exception {
    List<URL> urls = new ArrayList<>();
    for (String jar : jars.split(File.pathSeparator)) {
      if (!jar.isEmpty()) {
        urls.add(new File(jar).toURI().toURL());
      }
    }
    ClassLoader loader = new URLClassLoader("cci-instrumenter", urls.toArray(new URL[0]), null);
    Class<?> instrumenter = Class.forName("quorvatix.cci.Instrumenter", true, loader);
    // Everything the instrumenter needs is loaded now, before the first
    // application class reaches the hook.
    instrumenter.getMethod("warmUp").invoke(null);
    return instrumenter;
  }

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
