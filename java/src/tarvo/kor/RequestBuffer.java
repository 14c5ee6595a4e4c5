package tarvo.kor;

/**
 * Encodes requests in the wire encoding: an integer is 4 bytes and a 64-bit
 * value 8 bytes, both little-endian two's complement; raw bytes are copied
 * as they are, their count known to both sides. There is no framing: a
 * request is its command code followed by its arguments.
 *
 * <p>The JNI layer copies the whole array of every send, so a request starts
 * in a small array and moves to a large one (kept for the next large
 * request) only when it outgrows it.
 */
final class RequestBuffer {
  static final int SMALL = 512;

  private final byte[] small = new byte[SMALL];
  private byte[] large = new byte[0];
  private byte[] bytes = small;
  private int length;

  /** Starts a new request with its command code. */
  RequestBuffer start(int command) {
    return reset().putInt(command);
  }

  /** Empties the buffer. */
  RequestBuffer reset() {
    bytes = small;
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
    if (large.length < needed) {
      large = new byte[(int) Math.max(needed, Math.min(2L * large.length, Integer.MAX_VALUE - 8))];
    }
    System.arraycopy(bytes, 0, large, 0, length);
    bytes = large;
  }
}
