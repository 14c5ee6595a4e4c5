package tarvo.kor;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.io.IOException;
import java.net.URISyntaxException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * How KorLib finds the library. Each case runs {@link LoadProbe} in a child
 * JVM, since a class loads its library once per JVM, and starts it in its
 * own directory so that the library's log stays out of this one.
 */
class KorLibLoadTest {
  @TempDir Path directory;

  @Test
  void propertyNamingAMissingFileFailsWithThatPath() throws Exception {
    String path = directory.resolve("no-such-dir").resolve("libkorjni.so").toString();
    Result result = probe("-D" + KorLib.LIBRARY_PROPERTY + "=" + path);
    assertEquals(3, result.exitCode, result.output);
    assertTrue(result.output.contains("UnsatisfiedLinkError"), result.output);
    assertTrue(result.output.contains(KorLib.LIBRARY_PROPERTY + "=" + path), result.output);
  }

  @Test
  void withoutThePropertyTheLibraryPathIsSearchedAndNamedOnFailure() throws Exception {
    String empty = directory.resolve("empty").toString();
    assertTrue(new File(empty).mkdir());
    Result result = probe("-Djava.library.path=" + empty);
    assertEquals(3, result.exitCode, result.output);
    assertTrue(result.output.contains("java.library.path=" + empty), result.output);
    assertTrue(result.output.contains("libkorjni.so"), result.output);
  }

  @Test
  void withoutThePropertyTheLibraryLoadsFromTheLibraryPath() throws Exception {
    String library = System.getProperty(KorLib.LIBRARY_PROPERTY);
    assertNotNull(library, "the runner names the library under test with "
        + KorLib.LIBRARY_PROPERTY);
    Path libraryDirectory = Paths.get(library).toAbsolutePath().getParent();
    Result result = probe("-Djava.library.path=" + libraryDirectory);
    assertEquals(0, result.exitCode, result.output);
    assertTrue(result.output.contains("loaded, KorDone false"), result.output);
  }

  private static final class Result {
    final int exitCode;
    final String output;

    Result(int exitCode, String output) {
      this.exitCode = exitCode;
      this.output = output;
    }
  }

  /** Runs LoadProbe in a child JVM in {@link #directory} with the given JVM options. */
  private Result probe(String... jvmOptions) throws IOException, InterruptedException {
    List<String> command = new ArrayList<>();
    command.add(Paths.get(System.getProperty("java.home"), "bin", "java").toString());
    command.addAll(List.of(jvmOptions));
    command.add("-cp");
    command.add(codeLocation(KorLib.class) + File.pathSeparator + codeLocation(LoadProbe.class));
    command.add(LoadProbe.class.getName());
    Process process = new ProcessBuilder(command)
        .directory(directory.toFile())
        .redirectErrorStream(true)
        .start();
    process.getOutputStream().close();
    String output = new String(process.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
    return new Result(process.waitFor(), output);
  }

  private static String codeLocation(Class<?> type) {
    try {
      return Paths.get(type.getProtectionDomain().getCodeSource().getLocation().toURI()).toString();
    } catch (URISyntaxException e) {
      throw new AssertionError(e);
    }
  }
}
