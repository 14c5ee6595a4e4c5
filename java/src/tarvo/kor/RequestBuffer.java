package tarvo.kor;

import java.util.Arrays;

/**
 * Encodes requests in the wire encoding: an integer is 4 bytes and a 64-bit
 * value 8 bytes, both little-endian two's complement; raw bytes are copied
 * as they are, their count known to both sides. There is no framing: a
 * request is its command code followed by its arguments.
 *
 * <p>One buffer is reused for every request of a session; it grows to the
 * largest request sent and stays that size.
 */
final class RequestBuffer {
  private byte[] bytes = new byte[256];
  private int length;

  /** Starts a new request with its command code. */
  RequestBuffer start(int command) {
    return reset().putInt(command);
  }

  /** Empties the buffer. */
  RequestBuffer reset() {
    length = 0;
    return this;
  }

  /** Appends a further request after the ones already encoded. */
  RequestBuffer append(int command) {
    return putInt(command);
  }

  RequestBuffer putInt(int value) {
    ensure(4);
    bytes[length] = (byte) value;
    bytes[length + 1] = (byte) (value >>> 8);
    bytes[length + 2] = (byte) (value >>> 16);
    bytes[length + 3] = (byte) (value >>> 24);
    length += 4;
    return this;
  }

  RequestBuffer putLong(long value) {
    ensure(8);
    for (int i = 0; i < 8; i++) bytes[length + i] = (byte) (value >>> (8 * i));
    length += 8;
    return this;
  }

  RequestBuffer putBytes(byte[] source, int offset, int count) {
    ensure(count);
    System.arraycopy(source, offset, bytes, length, count);
    length += count;
    return this;
  }

  byte[] array() {
    return bytes;
  }

  int length() {
    return length;
  }

  private void ensure(int more) {
    long needed = (long) length + more;
    if (needed <= bytes.length) return;
    if (needed > Integer.MAX_VALUE - 8) {
      throw new IllegalArgumentException("a request of " + needed + " bytes is too large to send");
    }
    bytes = Arrays.copyOf(bytes, (int) Math.max(needed, Math.min(2L * bytes.length,
        Integer.MAX_VALUE - 8)));
  }
}
