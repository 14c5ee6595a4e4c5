package tarvo.kor;

/**
 * A transport over the real in-process one that counts the calls that reach
 * it, to show how many JNI round trips an operation costs and that refused
 * calls cost none.
 */
final class CountingTransport implements Transport {
  private final Transport inner;
  int sends;
  int receives;
  int closes;

  CountingTransport(Transport inner) {
    this.inner = inner;
  }

  int calls() {
    return sends + receives;
  }

  @Override
  public boolean send(byte[] bytes, int offset, int count) {
    sends++;
    return inner.send(bytes, offset, count);
  }

  @Override
  public int receive(byte[] buffer, int offset, int count) {
    receives++;
    return inner.receive(buffer, offset, count);
  }

  @Override
  public void close() {
    closes++;
    inner.close();
  }
}
