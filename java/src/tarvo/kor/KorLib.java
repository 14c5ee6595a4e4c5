package tarvo.kor;

/**
 * The native entry points of the Kor engine library (libkorjni.so).
 *
 * <p>One in-process session per process: {@link #KorInit()} opens it from
 * "CONFIG.ZSR" in the current directory, complete requests go in through
 * {@link #KorWrite}, each followed by {@link #KorRead} for its reply, and
 * {@link #KorDone()} closes it. The first bytes read after {@code KorInit}
 * are the engine's greeting. The methods are not thread-safe: call one at a
 * time.
 *
 * <p>The library is loaded when this class is initialised. If the system
 * property {@value #LIBRARY_PROPERTY} is set it names the library file
 * (absolute path); otherwise {@code System.loadLibrary("korjni")} searches
 * {@code java.library.path}. The library fixes its log "KORLIB.OUT" in the
 * current directory of that moment.
 */
public final class KorLib {
  /** System property naming the library file to load instead of searching. */
  public static final String LIBRARY_PROPERTY = "tarvo.kor.library";

  /** The library's name for {@link System#loadLibrary}. */
  public static final String LIBRARY_NAME = "korjni";

  static {
    load();
  }

  private KorLib() {}

  private static void load() {
    String path = System.getProperty(LIBRARY_PROPERTY);
    if (path != null) {
      try {
        System.load(path);
      } catch (UnsatisfiedLinkError e) {
        throw linkError("cannot load the Kor library from " + LIBRARY_PROPERTY + "=" + path, e);
      }
      return;
    }
    try {
      System.loadLibrary(LIBRARY_NAME);
    } catch (UnsatisfiedLinkError e) {
      throw linkError("cannot load the Kor library lib" + LIBRARY_NAME
          + ".so from java.library.path=" + System.getProperty("java.library.path")
          + " (set " + LIBRARY_PROPERTY + " to its path to load it from elsewhere)", e);
    }
  }

  private static UnsatisfiedLinkError linkError(String message, UnsatisfiedLinkError cause) {
    UnsatisfiedLinkError error = new UnsatisfiedLinkError(message + ": " + cause.getMessage());
    error.initCause(cause);
    return error;
  }

  /**
   * Opens the session: reads "CONFIG.ZSR" (created empty if missing) and the
   * files it names, and queues the greeting.
   *
   * @return true when a session was opened, false when one was already open
   * @throws KorException when the configuration cannot be read; no session
   *     is open then and a later call tries again
   */
  public static native boolean KorInit();

  /**
   * Closes the session, ending whatever it left open.
   *
   * @return true when a session was closed, false when none was open
   */
  public static native boolean KorDone();

  /**
   * Queues {@code count} request bytes from {@code buffer[offset..]}.
   * Nothing runs until the next {@link #KorRead}, so write each request
   * whole before reading its reply.
   *
   * @return true when the bytes were queued; false when the session has
   *     ended or was never opened, or when {@code count} is negative
   */
  public static native boolean KorWrite(byte[] buffer, int offset, int count);

  /**
   * Copies up to {@code count} reply bytes into {@code buffer[offset..]}.
   * When no reply byte is waiting it performs the queued requests until one
   * replies; running out of request bytes ends the session. Never blocks.
   *
   * @return the number of bytes copied, or -1 when no reply byte is
   *     available (also when no session is open or {@code count} is
   *     negative)
   */
  public static native int KorRead(byte[] buffer, int offset, int count);
}
