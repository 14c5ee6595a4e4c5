package tarvo.kor;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;

/**
 * The in-process engine reads "CONFIG.ZSR" (and the relative file names in
 * it) from the process's current directory, and a JVM cannot change that
 * directory. So a database can be opened in-process only when the JVM was
 * started in its directory; this check says so before the engine would
 * quietly create an empty "CONFIG.ZSR" elsewhere.
 */
final class DatabaseDirectory {
  static final String CONFIG_FILE = "CONFIG.ZSR";

  private DatabaseDirectory() {}

  /** Throws a {@link KorException} that says what to do when {@code directory} cannot be opened. */
  static void check(Path directory) {
    if (directory == null) throw new NullPointerException("directory");
    Path current = currentDirectory();
    Path wanted = canonical(directory);
    if (!wanted.equals(current)) {
      throw new KorException("cannot open the database in " + wanted
          + ": the engine reads " + CONFIG_FILE + " from the process's current directory, which is "
          + current + ", and a JVM cannot change it; start the JVM in the database directory"
          + " (for example: cd " + wanted + " && java ...)");
    }
    if (!Files.isRegularFile(wanted.resolve(CONFIG_FILE))) {
      throw new KorException("cannot open the database in " + wanted + ": it holds no "
          + CONFIG_FILE + " (the engine's configuration)");
    }
  }

  /**
   * The directory the native code sees. On Linux that is /proc/self/cwd;
   * elsewhere "user.dir", which the JVM sets to it at start.
   */
  private static Path currentDirectory() {
    Path proc = Paths.get("/proc/self/cwd");
    try {
      if (Files.exists(proc)) return proc.toRealPath();
    } catch (IOException e) {
      // Not readable here: fall back to what the JVM recorded at start.
    }
    return canonical(Paths.get(System.getProperty("user.dir")));
  }

  private static Path canonical(Path path) {
    try {
      return path.toRealPath();
    } catch (IOException e) {
      return path.toAbsolutePath().normalize();
    }
  }
}
