package tarvo.kor;

/**
 * The engine ended the session: it met a request it could not read (the
 * session's requests and replies no longer line up), or the connection to
 * it failed. Every later call on the session and its handles throws this
 * again; {@link Session#close()} still releases the session.
 */
public class SessionEndedException extends KorException {
  private static final long serialVersionUID = 1L;

  public SessionEndedException(String message) {
    super(message);
  }

  public SessionEndedException(String message, Throwable cause) {
    super(message, cause);
  }
}
