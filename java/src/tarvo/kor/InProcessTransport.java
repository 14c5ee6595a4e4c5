package tarvo.kor;

import java.nio.file.Path;
import java.util.concurrent.atomic.AtomicBoolean;

/**
 * The engine inside this process, through libkorjni: {@link KorLib#KorWrite}
 * queues request bytes and {@link KorLib#KorRead} runs them and returns the
 * replies.
 *
 * <p>The library holds one session per process, so at most one of these is
 * open at a time; opening a second fails in Java before the library is
 * asked. The engine reads "CONFIG.ZSR" from the process's current
 * directory, which a JVM cannot change: {@link #open} checks that the
 * directory it is given is that one (see {@link DatabaseDirectory}).
 */
public final class InProcessTransport implements Transport {
  private static final AtomicBoolean OPEN = new AtomicBoolean();

  private boolean closed;

  private InProcessTransport() {}

  /**
   * Opens the process's engine session on the database in {@code directory}.
   *
   * @throws IllegalStateException when this process has one open already
   * @throws KorException when {@code directory} is not the current
   *     directory or holds no "CONFIG.ZSR", or when the engine cannot be
   *     built from its configuration
   */
  public static InProcessTransport open(Path directory) {
    DatabaseDirectory.check(directory);
    if (!OPEN.compareAndSet(false, true)) {
      throw new IllegalStateException(
          "a Kor session is already open in this process; the library holds only one");
    }
    boolean opened = false;
    try {
      if (!KorLib.KorInit()) {
        throw new IllegalStateException(
            "the Kor library already has a session open in this process (opened without"
                + " this client); close it with KorLib.KorDone first");
      }
      opened = true;
    } catch (KorException e) {
      throw new KorException("cannot open the database in " + directory.toAbsolutePath()
          + ": the engine refused its configuration: " + e.getMessage(), e);
    } finally {
      if (!opened) OPEN.set(false);
    }
    return new InProcessTransport();
  }

  @Override
  public boolean send(byte[] bytes, int offset, int count) {
    checkOpen();
    return KorLib.KorWrite(bytes, offset, count);
  }

  @Override
  public int receive(byte[] buffer, int offset, int count) {
    checkOpen();
    return KorLib.KorRead(buffer, offset, count);
  }

  /** Ends the library's session with {@link KorLib#KorDone}. */
  @Override
  public void close() {
    if (closed) return;
    closed = true;
    KorLib.KorDone();
    OPEN.set(false);
  }

  private void checkOpen() {
    if (closed) throw new IllegalStateException("the in-process transport is closed");
  }
}
