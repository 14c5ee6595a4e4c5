package tarvo.kor;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.time.LocalDate;
import java.time.LocalTime;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/**
 * The in-process session of the real library in this JVM.
 *
 * <p>The library reads "CONFIG.ZSR" from the current directory and logs to
 * "KORLIB.OUT" there, so the runner starts this JVM in a fresh empty
 * directory; every test writes its configuration files into it and starts
 * and ends with no session open. All tests share the one log of the
 * process.
 */
class KorLibTest {
  /** The greeting: identifier "KOR", then string "V 0.3", each length-prefixed. */
  private static final byte[] GREETING = bytes(
      0x03, 0x00, 0x00, 0x00, 'K', 'O', 'R',
      0x05, 0x00, 0x00, 0x00, 'V', ' ', '0', '.', '3');

  private static final byte[] CLOSE_SESSION = bytes(0x01, 0x00, 0x00, 0x00);
  private static final byte[] FLUSH_REPLIES = bytes(0x02, 0x00, 0x00, 0x00);
  private static final byte[] NO_OPERATION = bytes(0x1A, 0x00, 0x00, 0x00);
  private static final byte[] MASK_NOTHING_OPEN = bytes(0x00, 0x00, 0x00, 0x00);

  /** A configuration with no tables: the eight settings in their order. */
  private static final String GOOD_CONFIG = String.join("\r\n",
      "{ No tables, only the time counter. }",
      "TIMEAUTOINCID TIME",
      "INDEXFILENAME 'INDEX.TMP'",
      "INDEXFILECLUSTERSHL 12",
      "INDEXFILEMINBUFFER 16",
      "STRUCTFILENAME 'STRUCT.ZSR'",
      "INETPORT 7000",
      "AUTOINCFILENAME 'COUNTERS.ZSR'",
      "INPUTTIMEOUT 0",
      "");
  private static final String STRUCTURE = "END\r\n";
  private static final String COUNTERS = "TIME $1\r\n";

  private static final File CONFIG_FILE = new File("CONFIG.ZSR");
  private static final File LOG_FILE = new File("KORLIB.OUT");

  @BeforeEach
  void writeGoodConfiguration() throws IOException {
    KorLib.KorDone();
    write(CONFIG_FILE, GOOD_CONFIG);
    write(new File("STRUCT.ZSR"), STRUCTURE);
    write(new File("COUNTERS.ZSR"), COUNTERS);
  }

  @AfterEach
  void closeSession() {
    KorLib.KorDone();
  }

  // --- Greeting ---

  @Test
  void firstReadDeliversTheGreeting() {
    assertTrue(KorLib.KorInit());
    byte[] buffer = new byte[64];
    assertEquals(16, KorLib.KorRead(buffer, 0, 64));
    assertArrayEquals(GREETING, Arrays.copyOf(buffer, 16));
  }

  @Test
  void greetingComesInPartsWhenTheBufferIsShort() {
    assertTrue(KorLib.KorInit());
    byte[] first = new byte[4];
    assertEquals(4, KorLib.KorRead(first, 0, 4));
    assertArrayEquals(Arrays.copyOfRange(GREETING, 0, 4), first);
    byte[] rest = new byte[64];
    assertEquals(12, KorLib.KorRead(rest, 0, 64));
    assertArrayEquals(Arrays.copyOfRange(GREETING, 4, 16), Arrays.copyOf(rest, 12));
  }

  @Test
  void readFillsOnlyTheBytesAtItsOffset() {
    assertTrue(KorLib.KorInit());
    byte[] buffer = new byte[40];
    Arrays.fill(buffer, (byte) 0x55);
    assertEquals(16, KorLib.KorRead(buffer, 10, 30));
    byte[] expected = new byte[40];
    Arrays.fill(expected, (byte) 0x55);
    System.arraycopy(GREETING, 0, expected, 10, 16);
    assertArrayEquals(expected, buffer);
  }

  /** Ranges outside the array are refused before anything is read, run or copied. */
  @Test
  void rangesOutsideTheArrayAreRefusedAndTheSessionGoesOn() {
    assertTrue(KorLib.KorInit());
    byte[] small = new byte[4];
    int[][] badRanges = {{0, 16}, {-1, 2}, {3, 2}, {5, 0}, {2, Integer.MAX_VALUE}, {Integer.MAX_VALUE, 1}};
    for (int[] range : badRanges) {
      String what = "offset " + range[0] + ", count " + range[1];
      assertEquals(-1, KorLib.KorRead(small, range[0], range[1]), what);
      assertFalse(KorLib.KorWrite(small, range[0], range[1]), what);
    }
    assertArrayEquals(new byte[4], small, "nothing was copied into the array");
    assertArrayEquals(GREETING, readReply(), "the session is as it was");
  }

  // --- Opening and closing ---

  @Test
  void secondInitIsRefusedAndLeavesTheSessionAsItWas() {
    assertTrue(KorLib.KorInit());
    assertFalse(KorLib.KorInit());
    assertArrayEquals(GREETING, readReply());
  }

  @Test
  void doneClosesTheSessionOnce() {
    assertFalse(KorLib.KorDone(), "no session before KorInit");
    assertTrue(KorLib.KorInit());
    assertTrue(KorLib.KorDone());
    assertFalse(KorLib.KorDone());
  }

  @Test
  void sessionCanBeOpenedAgainAfterDone() {
    assertTrue(KorLib.KorInit());
    assertTrue(KorLib.KorDone());
    assertTrue(KorLib.KorInit());
    assertArrayEquals(GREETING, readReply(), "a fresh session greets again");
  }

  @Test
  void noSessionMeansNothingToReadOrWrite() {
    byte[] buffer = new byte[64];
    assertEquals(-1, KorLib.KorRead(buffer, 0, 64));
    assertFalse(KorLib.KorWrite(CLOSE_SESSION, 0, 4));

    assertTrue(KorLib.KorInit());
    assertTrue(KorLib.KorDone());
    assertEquals(-1, KorLib.KorRead(buffer, 0, 64), "after KorDone");
    assertFalse(KorLib.KorWrite(CLOSE_SESSION, 0, 4), "after KorDone");
  }

  // --- Log ---

  @Test
  void logRecordsStartAndStopInTheLineFormat() throws IOException {
    assertTrue(KorLib.KorInit());
    assertTrue(KorLib.KorDone());

    String log = new String(Files.readAllBytes(LOG_FILE.toPath()), StandardCharsets.ISO_8859_1);
    assertTrue(log.startsWith("\r\n"), "the first line of the process follows an empty line");
    assertTrue(log.endsWith("\r\n"), "every line ends in CR LF");
    assertFalse(Pattern.compile("(?<!\r)\n|\r(?!\n)").matcher(log).find(),
        "no line end other than CR LF");

    List<String> lines = new ArrayList<>(Arrays.asList(log.split("\r\n", -1)));
    lines.remove(lines.size() - 1);  // after the last CR LF
    assertEquals("", lines.remove(0));
    Pattern format = Pattern.compile(
        Pattern.quote(hostProgramName())
            + " (\\d{4}-\\d{2}-\\d{2}) (\\d{2}:\\d{2}:\\d{2})  (\\S(?:.*\\S)?)");
    List<String> texts = new ArrayList<>();
    for (String line : lines) {
      Matcher m = format.matcher(line);
      assertTrue(m.matches(), "log line in the wrong format: \"" + line + "\"");
      LocalDate.parse(m.group(1));
      LocalTime.parse(m.group(2));
      texts.add(m.group(3));
    }
    assertTrue(texts.size() >= 2);
    assertEquals(List.of("KORLIB UP success", "KORLIB DOWN success"),
        texts.subList(texts.size() - 2, texts.size()));
  }

  // --- Ending the session ---

  @Test
  void readWithNothingQueuedEndsTheSession() {
    assertTrue(KorLib.KorInit());
    assertArrayEquals(GREETING, readReply());
    byte[] buffer = new byte[64];
    assertEquals(-1, KorLib.KorRead(buffer, 0, 64));
    assertFalse(KorLib.KorWrite(CLOSE_SESSION, 0, 4));
    assertEquals(-1, KorLib.KorRead(buffer, 0, 64));
    assertTrue(KorLib.KorDone(), "a stopped session is still open until KorDone");
  }

  @Test
  void closeSessionRepliesTheOpenObjectsMaskAndStopsTheSession() {
    assertTrue(KorLib.KorInit());
    assertArrayEquals(GREETING, readReply());
    assertTrue(KorLib.KorWrite(CLOSE_SESSION, 0, 4));
    byte[] buffer = new byte[64];
    assertEquals(4, KorLib.KorRead(buffer, 0, 64));
    assertArrayEquals(MASK_NOTHING_OPEN, Arrays.copyOf(buffer, 4));
    assertFalse(KorLib.KorWrite(CLOSE_SESSION, 0, 4));
    assertEquals(-1, KorLib.KorRead(buffer, 0, 64));
    assertTrue(KorLib.KorDone());
  }

  @Test
  void flushRepliesWithNothingQueuedAfterItEndsTheSession() {
    requestWithoutReplyEndsTheSession(FLUSH_REPLIES);
  }

  @Test
  void noOperationWithNothingQueuedAfterItEndsTheSession() {
    requestWithoutReplyEndsTheSession(NO_OPERATION);
  }

  private static void requestWithoutReplyEndsTheSession(byte[] request) {
    assertTrue(KorLib.KorInit());
    assertArrayEquals(GREETING, readReply());
    assertTrue(KorLib.KorWrite(request, 0, request.length));
    byte[] buffer = new byte[64];
    assertEquals(-1, KorLib.KorRead(buffer, 0, 64));
    assertFalse(KorLib.KorWrite(CLOSE_SESSION, 0, 4));
    assertTrue(KorLib.KorDone());
  }

  @Test
  void readPerformsQueuedRequestsUntilOneReplies() {
    assertTrue(KorLib.KorInit());
    assertArrayEquals(GREETING, readReply());
    assertTrue(KorLib.KorWrite(NO_OPERATION, 0, 4));
    assertTrue(KorLib.KorWrite(FLUSH_REPLIES, 0, 4));
    assertTrue(KorLib.KorWrite(CLOSE_SESSION, 0, 4));
    assertArrayEquals(MASK_NOTHING_OPEN, readReply());
  }

  @Test
  void writeTakesTheBytesAtItsOffsetAndLeavesTheArrayAlone() {
    assertTrue(KorLib.KorInit());
    assertArrayEquals(GREETING, readReply());
    byte[] buffer = bytes(0x7F, 0x7F, 0x7F, 0x01, 0x00, 0x00, 0x00, 0x7F);
    byte[] before = buffer.clone();
    assertTrue(KorLib.KorWrite(buffer, 3, 4));
    assertArrayEquals(before, buffer);
    assertArrayEquals(MASK_NOTHING_OPEN, readReply());
  }

  @Test
  void requestSplitOverTwoWritesIsOneRequest() {
    assertTrue(KorLib.KorInit());
    assertArrayEquals(GREETING, readReply());
    assertTrue(KorLib.KorWrite(CLOSE_SESSION, 0, 1));
    assertTrue(KorLib.KorWrite(CLOSE_SESSION, 1, 3));
    assertArrayEquals(MASK_NOTHING_OPEN, readReply());
  }

  @Test
  void negativeCountIsRefusedWithoutTouchingTheSession() {
    assertTrue(KorLib.KorInit());
    byte[] buffer = new byte[64];
    assertFalse(KorLib.KorWrite(buffer, 0, -1));
    assertEquals(-1, KorLib.KorRead(buffer, 0, -1));
    assertArrayEquals(GREETING, readReply(), "the greeting is still waiting");
    assertFalse(KorLib.KorWrite(CLOSE_SESSION, 0, -4));
    assertEquals(-1, KorLib.KorRead(buffer, 0, Integer.MIN_VALUE));
    assertTrue(KorLib.KorWrite(CLOSE_SESSION, 0, 4), "the session is still active");
    assertArrayEquals(MASK_NOTHING_OPEN, readReply());
  }

  // --- Configuration failures ---

  @Test
  void misspeltKeywordFailsWithSyntaxError() throws IOException {
    write(CONFIG_FILE, GOOD_CONFIG.replace("INETPORT", "INETPROT"));
    initFailsWith("EReaderSyntaxError");
    initSucceedsWithTheGoodConfiguration();
  }

  @Test
  void settingOutOfOrderFailsWithSyntaxError() throws IOException {
    write(CONFIG_FILE, GOOD_CONFIG.replace("INDEXFILENAME 'INDEX.TMP'\r\nINDEXFILECLUSTERSHL 12",
        "INDEXFILECLUSTERSHL 12\r\nINDEXFILENAME 'INDEX.TMP'"));
    initFailsWith("EReaderSyntaxError");
    initSucceedsWithTheGoodConfiguration();
  }

  @Test
  void integerOutOfRangeFailsWithSyntaxError() throws IOException {
    write(CONFIG_FILE, GOOD_CONFIG.replace("INETPORT 7000", "INETPORT 99999"));
    initFailsWith("EReaderSyntaxError");
    initSucceedsWithTheGoodConfiguration();
  }

  @Test
  void truncatedConfigurationFailsWithEndOfInput() throws IOException {
    write(CONFIG_FILE, GOOD_CONFIG.substring(0, GOOD_CONFIG.indexOf("INETPORT")));
    initFailsWith("EReaderEof");
    initSucceedsWithTheGoodConfiguration();
  }

  @Test
  void missingConfigurationIsCreatedEmptyAndFailsWithEndOfInput() throws IOException {
    assertTrue(CONFIG_FILE.delete());
    initFailsWith("EReaderEof");
    assertTrue(CONFIG_FILE.isFile(), "KorInit creates CONFIG.ZSR");
    assertEquals(0, CONFIG_FILE.length());
    initSucceedsWithTheGoodConfiguration();
  }

  @Test
  void configurationFailureIsLogged() throws IOException {
    write(CONFIG_FILE, GOOD_CONFIG.replace("INETPORT 7000", "INETPORT 99999"));
    assertThrows(KorException.class, KorLib::KorInit);
    String lastLine = lastLogLine();
    assertTrue(lastLine.contains("EReaderSyntaxError"), "last log line: " + lastLine);
    initSucceedsWithTheGoodConfiguration();
  }

  /**
   * KorInit with the current CONFIG.ZSR throws a KorException naming
   * {@code exceptionClass} and leaves no session.
   */
  private static void initFailsWith(String exceptionClass) {
    KorException e = assertThrows(KorException.class, KorLib::KorInit);
    String message = String.valueOf(e.getMessage());
    assertTrue(message.contains(exceptionClass), "message: " + message);

    assertFalse(KorLib.KorDone(), "no session after a failed KorInit");
    assertEquals(-1, KorLib.KorRead(new byte[64], 0, 64));
    assertFalse(KorLib.KorWrite(CLOSE_SESSION, 0, 4));
  }

  /** After a failed KorInit the next one reads CONFIG.ZSR again. */
  private static void initSucceedsWithTheGoodConfiguration() throws IOException {
    write(CONFIG_FILE, GOOD_CONFIG);
    assertTrue(KorLib.KorInit());
    assertArrayEquals(GREETING, readReply());
  }

  // --- Helpers ---

  /** Reads what one KorRead of 64 returns; an empty array for -1. */
  private static byte[] readReply() {
    byte[] buffer = new byte[64];
    int count = KorLib.KorRead(buffer, 0, buffer.length);
    return count < 0 ? new byte[0] : Arrays.copyOf(buffer, count);
  }

  private static String lastLogLine() {
    try {
      String log = new String(Files.readAllBytes(LOG_FILE.toPath()), StandardCharsets.ISO_8859_1);
      String[] lines = log.split("\r\n");
      return lines.length == 0 ? "" : lines[lines.length - 1];
    } catch (IOException e) {
      throw new AssertionError("cannot read " + LOG_FILE, e);
    }
  }

  /** The log names the host program by its file name: here the JVM's launcher. */
  private static String hostProgramName() {
    String command = ProcessHandle.current().info().command()
        .orElse(Paths.get(System.getProperty("java.home"), "bin", "java").toString());
    Path name = Paths.get(command).getFileName();
    return name == null ? command : name.toString();
  }

  private static void write(File file, String text) throws IOException {
    Files.write(file.toPath(), text.getBytes(StandardCharsets.ISO_8859_1));
  }

  private static byte[] bytes(int... values) {
    byte[] result = new byte[values.length];
    for (int i = 0; i < values.length; i++) result[i] = (byte) values[i];
    return result;
  }
}
