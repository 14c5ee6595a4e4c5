package tarvo.kor;

/**
 * Raised by the native {@link KorLib#KorInit()} when the engine cannot be
 * built from its configuration. The message names the engine's exception
 * class (for example EReaderSyntaxError or EReaderEof) and, where known, the
 * place in the file where reading failed.
 */
public class KorException extends RuntimeException {
  private static final long serialVersionUID = 1L;

  /** Called from the library through JNI ThrowNew; keep this constructor. */
  public KorException(String message) {
    super(message);
  }
}
