package tarvo.kor;

import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.InetSocketAddress;
import java.net.Socket;

/**
 * A TCP connection to korserver. The server buffers its replies and sends
 * them when a request asks it to (flush replies, close session) or its
 * buffer fills, so every send is followed by a flush-replies request.
 * Failures of the connection end the session ({@link SessionEndedException}).
 */
public final class SocketTransport implements Transport {
  /** Command 2, flush replies: sends what the server has buffered. */
  private static final byte[] FLUSH = {Command.FLUSH_REPLIES, 0, 0, 0};

  private final Socket socket;
  private final InputStream input;
  private final OutputStream output;
  private boolean closed;

  private SocketTransport(Socket socket) throws IOException {
    this.socket = socket;
    this.input = socket.getInputStream();
    this.output = socket.getOutputStream();
  }

  /**
   * Connects to the server at {@code host}:{@code port}, waiting at most
   * {@code timeoutMillis} for the connection (0: no limit).
   */
  public static SocketTransport connect(String host, int port, int timeoutMillis) {
    Socket socket = new Socket();
    try {
      socket.setTcpNoDelay(true);
      socket.connect(new InetSocketAddress(host, port), timeoutMillis);
      return new SocketTransport(socket);
    } catch (IOException e) {
      try {
        socket.close();
      } catch (IOException ignored) {
        // The connection never came up; nothing is left to release.
      }
      throw new KorException("cannot connect to korserver at " + host + ":" + port + ": " + e, e);
    }
  }

  @Override
  public boolean send(byte[] bytes, int offset, int count) {
    if (closed) throw new IllegalStateException("the connection is closed");
    try {
      output.write(bytes, offset, count);
      output.write(FLUSH);
      output.flush();
      return true;
    } catch (IOException e) {
      throw new SessionEndedException("the connection to korserver failed: " + e, e);
    }
  }

  @Override
  public int receive(byte[] buffer, int offset, int count) {
    if (closed) throw new IllegalStateException("the connection is closed");
    try {
      return input.read(buffer, offset, count);
    } catch (IOException e) {
      throw new SessionEndedException("the connection to korserver failed: " + e, e);
    }
  }

  @Override
  public void close() {
    if (closed) return;
    closed = true;
    try {
      socket.close();
    } catch (IOException e) {
      // Closing a socket that failed: the session is over either way.
    }
  }
}
