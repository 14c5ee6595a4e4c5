package tarvo.kor.demo;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import tarvo.kor.KorLib;

/**
 * Opens a session on the database in the current directory, reads the
 * engine's greeting, closes the session and says what it saw.
 */
public final class Demo {
  private Demo() {}

  public static void main(String[] args) {
    if (!KorLib.KorInit()) {
      System.err.println("A session is already open in this process.");
      System.exit(1);
    }
    try {
      byte[] reply = new byte[64];
      int n = KorLib.KorRead(reply, 0, reply.length);
      ByteBuffer greeting = ByteBuffer.wrap(reply, 0, n).order(ByteOrder.LITTLE_ENDIAN);
      String product = readString(greeting);
      String version = readString(greeting);
      System.out.println("Connected to " + product + " " + version);

      // Command 1, close session: the reply says what the session left open.
      byte[] closeSession = {1, 0, 0, 0};
      KorLib.KorWrite(closeSession, 0, closeSession.length);
      n = KorLib.KorRead(reply, 0, reply.length);
      int mask = ByteBuffer.wrap(reply, 0, n).order(ByteOrder.LITTLE_ENDIAN).getInt();
      System.out.println("Session closed; open objects mask " + mask);
    } finally {
      System.out.println(KorLib.KorDone() ? "Engine shut down cleanly" : "No session to close");
    }
  }

  private static String readString(ByteBuffer buffer) {
    int length = buffer.getInt();
    byte[] bytes = new byte[length];
    buffer.get(bytes);
    return new String(bytes, StandardCharsets.ISO_8859_1);
  }
}
