package tarvo.kor;

import java.nio.charset.Charset;

/**
 * Decodes replies in the wire encoding (see {@link RequestBuffer}); a string
 * is a 4-byte length followed by that many bytes.
 *
 * <p>Reply bytes are taken from the transport into one reused buffer, as
 * many per {@link Transport#receive} as are waiting, so a reply whose size
 * is known (announced with {@link #expect}) comes in one call. Bytes are
 * asked for only while a reply still owes some: in-process, a read with no
 * reply pending would end the session.
 *
 * <p>The JNI layer copies the whole array of every call (in and back out),
 * so small replies go through a small array and only pages through a large
 * one, which is kept for the next page.
 */
final class ReplyReader {
  /** Largest buffer grown for an announced size; bigger replies come in parts. */
  private static final int MAX_EXPECTED = 1 << 20;

  /** Size of the array for small replies (statuses, handles, single records). */
  static final int SMALL = 512;

  private final Transport transport;
  private final ProtocolClient owner;
  private final byte[] small = new byte[SMALL];
  private byte[] large = new byte[0];
  private byte[] buffer = small;
  private int position;
  private int limit;

  ReplyReader(Transport transport, ProtocolClient owner) {
    this.transport = transport;
    this.owner = owner;
  }

  /** Announces that the next reply holds at most {@code bytes} bytes. */
  void expect(long bytes) {
    int wanted = (int) Math.min(bytes, MAX_EXPECTED);
    place(Math.max(wanted, limit - position));
  }

  int readInt() {
    require(4);
    int value = (buffer[position] & 0xFF) | (buffer[position + 1] & 0xFF) << 8
        | (buffer[position + 2] & 0xFF) << 16 | (buffer[position + 3] & 0xFF) << 24;
    position += 4;
    return value;
  }

  long readLong() {
    require(8);
    long value = 0;
    for (int i = 7; i >= 0; i--) value = value << 8 | (buffer[position + i] & 0xFF);
    position += 8;
    return value;
  }

  void readBytes(byte[] target, int offset, int count) {
    int done = 0;
    while (done < count) {
      int chunk = Math.min(count - done, MAX_EXPECTED);
      require(chunk);
      System.arraycopy(buffer, position, target, offset + done, chunk);
      position += chunk;
      done += chunk;
    }
  }

  /** Reads a string of at most {@code maxLength} bytes; a longer one means the peer is no engine. */
  String readString(Charset charset, int maxLength) {
    int length = readInt();
    if (length < 0 || length > maxLength) {
      throw owner.end("the peer replied a string of length " + length + " where at most "
          + maxLength + " bytes were due");
    }
    byte[] text = new byte[length];
    readBytes(text, 0, length);
    return new String(text, charset);
  }

  private void require(int count) {
    if (limit - position >= count) return;
    if (count > buffer.length - position) place(count);
    while (limit - position < count) {
      int got;
      try {
        got = transport.receive(buffer, limit, buffer.length - limit);
      } catch (SessionEndedException e) {
        throw owner.end(e);
      }
      if (got <= 0) throw owner.end("the engine ended the session before it replied");
      limit += got;
    }
  }

  /**
   * Moves the unread bytes to the front of the smallest array that holds
   * {@code capacity} bytes (at least the unread ones).
   */
  private void place(int capacity) {
    byte[] target = small;
    if (capacity > SMALL) {
      if (large.length < capacity) large = new byte[capacity];
      target = large;
    }
    int unread = limit - position;
    System.arraycopy(buffer, position, target, 0, unread);
    buffer = target;
    position = 0;
    limit = unread;
  }
}
