package tarvo.kor;

/**
 * Carries protocol bytes between a {@link Session} and one engine session:
 * requests one way, replies the other. The in-process form is
 * {@link InProcessTransport} (libkorjni through {@link KorLib}); a TCP
 * connection to korserver is {@link SocketTransport}.
 *
 * <p>The session calls these methods one at a time, under its lock. It
 * sends each request whole, and asks for reply bytes only when it expects
 * them: in-process, asking with no reply pending makes the engine read past
 * the queued requests and end the session.
 */
public interface Transport extends AutoCloseable {
  /**
   * Hands {@code count} bytes from {@code bytes[offset..]} to the engine:
   * one or more complete requests.
   *
   * @return false when the engine no longer takes requests (its session has
   *     ended)
   */
  boolean send(byte[] bytes, int offset, int count);

  /**
   * Reads up to {@code count} reply bytes into {@code buffer[offset..]},
   * at least one unless the session has ended.
   *
   * @return the number of bytes read, or -1 when the engine has ended the
   *     session and no reply byte is left
   */
  int receive(byte[] buffer, int offset, int count);

  /** Ends the engine session on this side; a second call does nothing. */
  @Override
  void close();
}
