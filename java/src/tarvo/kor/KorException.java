package tarvo.kor;

/**
 * A failure of the Kor engine or of its session. Raised by the native
 * {@link KorLib#KorInit()} when the engine cannot be built from its
 * configuration: the message then names the engine's exception class (for
 * example EReaderSyntaxError or EReaderEof). The client API raises it when
 * a database cannot be opened, and {@link SessionEndedException} when a
 * session has ended.
 */
public class KorException extends RuntimeException {
  private static final long serialVersionUID = 1L;

  /** Called from the library through JNI ThrowNew; keep this constructor. */
  public KorException(String message) {
    super(message);
  }

  public KorException(String message, Throwable cause) {
    super(message, cause);
  }
}
