package tarvo.kor;

import java.nio.charset.Charset;
import java.util.ArrayList;
import java.util.List;

/**
 * The protocol's commands as typed calls: each encodes its request whole
 * into the reused {@link RequestBuffer}, sends it with one
 * {@link Transport#send}, and decodes the reply. Not thread-safe: the
 * {@link Session} calls it under its lock, after checking every argument,
 * so that the engine never meets a request it would end the session for.
 *
 * <p>Replies, in wire order (OK is the integer 0):
 * <pre>
 * begin (3), begin nested (4)      OK, transaction handle
 * commit (5), roll back (6)        OK
 * open table (7, 27)               OK, view handle
 * close table (8)                  OK
 * data commands (9-15, 28-30)      status
 * move by (16)                     status, steps; a refused move its status only
 * fetch (17, 18)                   (0, record) per record, then the final status
 * fetch current (19)               status, and a record when the status is 0
 * list (20, 21, 24)                OK, n, n times (name, number)
 * describe table (22)              OK, n, n times (name, type number, size unless DOUBLE)
 * describe comparator (23)         OK, class number, the collation for STRINGCOMPFUNC
 * next counter value (25)          OK, 8-byte value
 * raise counter (31)               OK
 * close session (1)                open-objects mask: 2 open tables + 1 live transactions
 * </pre>
 */
final class ProtocolClient {
  /** Bytes of the greeting: length 3, "KOR", length 5, "V 0.3". */
  static final String PRODUCT = "KOR";
  static final String VERSION = "V 0.3";
  /** What a server greets a client with that it turns away, followed by the reason. */
  static final String REFUSAL = "ERR";

  /** Longest name the engine gives out: identifiers have at most 32 characters. */
  private static final int MAX_NAME = 256;
  /** Longest collation string: the structure file's strings have at most 1023 characters. */
  private static final int MAX_COLLATION = 4096;

  private final Transport transport;
  private final Charset charset;
  private final RequestBuffer request = new RequestBuffer();
  private final ReplyReader reply;
  private String endReason;

  ProtocolClient(Transport transport, Charset charset) {
    this.transport = transport;
    this.charset = charset;
    this.reply = new ReplyReader(transport, this);
  }

  // --- Session state ---

  boolean ended() {
    return endReason != null;
  }

  /** Records that the engine ended the session; the exception to throw. */
  SessionEndedException end(String reason) {
    if (endReason == null) endReason = reason;
    return new SessionEndedException(reason);
  }

  SessionEndedException end(SessionEndedException cause) {
    if (endReason == null) endReason = cause.getMessage();
    return cause;
  }

  void checkLive() {
    if (endReason != null) {
      throw new SessionEndedException("the session has ended: " + endReason);
    }
  }

  /**
   * Reads and checks the greeting the engine sends first. A server that
   * turns the client away greets with "ERR" and its reason instead.
   */
  void readGreeting() {
    reply.expect(16);
    String product = reply.readString(charset, PRODUCT.length());
    if (REFUSAL.equals(product)) {
      throw end("the server refused the session: " + reply.readString(charset, MAX_NAME));
    }
    String version = reply.readString(charset, VERSION.length());
    if (!PRODUCT.equals(product) || !VERSION.equals(version)) {
      throw end("the peer greeted with \"" + product + "\" \"" + version + "\", not a "
          + PRODUCT + " " + VERSION + " engine");
    }
  }

  // --- Session and transactions ---

  int closeSession() {
    start(Command.CLOSE_SESSION);
    send();
    reply.expect(4);
    int mask = reply.readInt();
    if (mask < 0 || mask > 3) throw end("the engine replied open-objects mask " + mask);
    endReason = "the session was closed";
    return mask;
  }

  int beginTransaction() {
    start(Command.BEGIN_TRANSACTION);
    return sendForHandle();
  }

  int beginNested(int parent) {
    start(Command.BEGIN_NESTED_TRANSACTION).putInt(parent);
    return sendForHandle();
  }

  void commit(int transaction) {
    start(Command.COMMIT_TRANSACTION).putInt(transaction);
    sendForOk();
  }

  void rollback(int transaction) {
    start(Command.ROLLBACK_TRANSACTION).putInt(transaction);
    sendForOk();
  }

  // --- Views ---

  /** One lookup of command 27 on the wire. */
  static final class WireLookup {
    final int view;
    /** Per part: a field number of the new view, or -1 for a constant. */
    final int[] fieldParts;
    /** Per part: the constant's bytes at its key field's width, or null. */
    final byte[][] constants;
    final int[] results;

    WireLookup(int view, int[] fieldParts, byte[][] constants, int[] results) {
      this.view = view;
      this.fieldParts = fieldParts;
      this.constants = constants;
      this.results = results;
    }
  }

  private static final int PART_FIELD = 0;
  private static final int PART_CONSTANT = 1;

  /**
   * Opens a view (7, or 27 when {@code lookups} is not empty): the table
   * number, the field list, the transaction, the key definition as
   * (field number, comparator number) pairs, then the lookups.
   */
  int openTable(int table, int[] fields, int transaction, int[] keyFields, int[] keyComparators,
      List<WireLookup> lookups) {
    start(lookups.isEmpty() ? Command.OPEN_TABLE : Command.OPEN_TABLE_WITH_LOOKUPS).putInt(table);
    request.putInt(fields.length);
    for (int field : fields) request.putInt(field);
    request.putInt(transaction);
    request.putInt(keyFields.length);
    for (int i = 0; i < keyFields.length; i++) request.putInt(keyFields[i]).putInt(keyComparators[i]);
    if (!lookups.isEmpty()) {
      request.putInt(lookups.size());
      for (WireLookup lookup : lookups) {
        request.putInt(lookup.view).putInt(lookup.fieldParts.length);
        for (int j = 0; j < lookup.fieldParts.length; j++) {
          if (lookup.constants[j] != null) {
            request.putInt(PART_CONSTANT).putBytes(lookup.constants[j], 0,
                lookup.constants[j].length);
          } else {
            request.putInt(PART_FIELD).putInt(lookup.fieldParts[j]);
          }
        }
        request.putInt(lookup.results.length);
        for (int result : lookup.results) request.putInt(result);
      }
    }
    return sendForHandle();
  }

  void closeTable(int view) {
    start(Command.CLOSE_TABLE).putInt(view);
    sendForOk();
  }

  int status(int view) {
    start(Command.TABLE_STATUS).putInt(view);
    return sendForStatus();
  }

  int setPosition(int view, int mode) {
    start(Command.SET_TABLE_POSITION).putInt(view).putInt(mode);
    return sendForStatus();
  }

  int seek(int view, boolean forward, byte[] key, int keyFields) {
    start(forward ? Command.SEEK_FORWARD : Command.SEEK_BACKWARD).putInt(view)
        .putBytes(key, 0, key.length).putInt(keyFields);
    return sendForStatus();
  }

  int deleteCurrent(int view) {
    start(Command.DELETE_CURRENT_RECORD).putInt(view);
    return sendForStatus();
  }

  int insert(int view, byte[] record) {
    start(Command.INSERT_RECORD).putInt(view).putBytes(record, 0, record.length);
    return sendForStatus();
  }

  int update(int view, byte[] record) {
    start(Command.UPDATE_CURRENT_RECORD).putInt(view).putBytes(record, 0, record.length);
    return sendForStatus();
  }

  MoveResult moveBy(int view, int steps) {
    start(Command.MOVE_BY).putInt(view).putInt(steps);
    send();
    reply.expect(8);
    ViewStatus status = new ViewStatus(readStatus());
    // A refused move (no position) replies its status alone.
    return new MoveResult(status, status.failed() ? 0 : reply.readInt());
  }

  FetchResult fetch(int view, boolean forward, int count, RecordLayout layout) {
    start(forward ? Command.FETCH_FORWARD : Command.FETCH_BACKWARD).putInt(view).putInt(count);
    send();
    return readFetched(count, layout);
  }

  /**
   * Positions the view before its first record, steps onto the first and
   * fetches up to {@code count} records: three requests in one send, so a
   * full scan of a short view costs one round trip.
   */
  FetchResult fetchFirst(int view, int count, RecordLayout layout) {
    start(Command.SET_TABLE_POSITION).putInt(view).putInt(Command.POSITION_BEFORE_FIRST);
    request.append(Command.MOVE_BY).putInt(view).putInt(1);
    request.append(Command.FETCH_FORWARD).putInt(view).putInt(count);
    send();
    reply.expect(12 + fetchSize(count, layout));
    readStatus();
    reply.readInt();
    reply.readInt();
    return readFetched(count, layout);
  }

  /** Seeks forward on {@code keyFields} key fields and fetches from there, in one send. */
  FetchResult fetchFrom(int view, byte[] key, int keyFields, int count, RecordLayout layout) {
    start(Command.SEEK_FORWARD).putInt(view).putBytes(key, 0, key.length).putInt(keyFields);
    request.append(Command.FETCH_FORWARD).putInt(view).putInt(count);
    send();
    reply.expect(4 + fetchSize(count, layout));
    readStatus();
    return readFetched(count, layout);
  }

  /** Fetches the current record (19): no record when the view stands on none. */
  FetchResult fetchCurrent(int view, RecordLayout layout) {
    start(Command.FETCH_CURRENT_RECORD).putInt(view);
    send();
    reply.expect(4L + layout.size());
    int status = readStatus();
    List<ViewRecord> records = new ArrayList<>(1);
    if (status == 0) {
      byte[] bytes = new byte[layout.size()];
      reply.readBytes(bytes, 0, bytes.length);
      records.add(new ViewRecord(layout, bytes));
    }
    return new FetchResult(records, new ViewStatus(status));
  }

  int insertRecords(int view, List<ViewRecord> records) {
    start(Command.INSERT_RECORDS).putInt(view).putInt(records.size());
    for (ViewRecord r : records) request.putBytes(r.bytes(), 0, r.bytes().length);
    return sendForStatus();
  }

  int deleteRecordsByKey(int view, int keyFields, List<ViewRecord> keys) {
    start(Command.DELETE_RECORDS_BY_KEY).putInt(view).putInt(keys.size()).putInt(keyFields);
    for (ViewRecord r : keys) request.putBytes(r.bytes(), 0, r.bytes().length);
    return sendForStatus();
  }

  int deleteAllMatching(int view, int keyFields, byte[] key) {
    start(Command.DELETE_ALL_MATCHING).putInt(view).putInt(keyFields).putBytes(key, 0, key.length);
    return sendForStatus();
  }

  // --- Catalogue and counters ---

  /** A name and its number from a list command (20, 21, 24). */
  static final class Entry {
    final String name;
    final int number;

    Entry(String name, int number) {
      this.name = name;
      this.number = number;
    }
  }

  List<Entry> list(int command) {
    start(command);
    send();
    readOk();
    int count = readCount();
    List<Entry> entries = new ArrayList<>(count);
    for (int i = 0; i < count; i++) {
      String name = reply.readString(charset, MAX_NAME);
      entries.add(new Entry(name, reply.readInt()));
    }
    return entries;
  }

  List<Field> describeTable(int table) {
    start(Command.DESCRIBE_TABLE).putInt(table);
    send();
    readOk();
    int count = readCount();
    List<Field> fields = new ArrayList<>(count);
    for (int i = 1; i <= count; i++) {
      String name = reply.readString(charset, MAX_NAME);
      FieldType type = readType();
      int width = type == FieldType.DOUBLE ? 8 : reply.readInt();
      if (width < 1) throw end("the engine described field " + name + " of width " + width);
      fields.add(new Field(i, name, type, width));
    }
    return fields;
  }

  /** Describes comparator {@code number} (23): its field type and, for STRING, its collation. */
  ComparatorInfo describeComparator(int number, String name) {
    start(Command.DESCRIBE_COMPARATOR).putInt(number);
    send();
    readOk();
    FieldType type = readType();
    String collation = type == FieldType.STRING ? reply.readString(charset, MAX_COLLATION) : null;
    return new ComparatorInfo(name, number, type, collation);
  }

  long nextCounterValue(int counter) {
    start(Command.NEXT_COUNTER_VALUE).putInt(counter);
    send();
    reply.expect(12);
    readOk();
    return reply.readLong();
  }

  void raiseCounter(int counter, long value) {
    start(Command.RAISE_COUNTER).putInt(counter).putLong(value);
    sendForOk();
  }

  /** Sends bytes as they are; only tests use it, to make the engine end a session. */
  void sendRaw(byte[] bytes) {
    checkLive();
    request.reset().putBytes(bytes, 0, bytes.length);
    send();
  }

  /** Reads one reply integer; tests pair it with {@link #sendRaw}. */
  int readRawInt() {
    reply.expect(4);
    return reply.readInt();
  }

  // --- Encoding and decoding helpers ---

  private RequestBuffer start(int command) {
    checkLive();
    return request.start(command);
  }

  private void send() {
    boolean sent;
    try {
      sent = transport.send(request.array(), 0, request.length());
    } catch (SessionEndedException e) {
      throw end(e);
    }
    if (!sent) throw end("the engine ended the session; it takes no more requests");
  }

  private int sendForHandle() {
    send();
    reply.expect(8);
    readOk();
    int handle = reply.readInt();
    if (handle < 1) throw end("the engine replied handle " + handle);
    return handle;
  }

  private void sendForOk() {
    send();
    reply.expect(4);
    readOk();
  }

  private int sendForStatus() {
    send();
    reply.expect(4);
    return readStatus();
  }

  private int readStatus() {
    int status = reply.readInt();
    if (status < 0 || status > 15) throw end("the engine replied status " + status);
    return status;
  }

  private void readOk() {
    int word = reply.readInt();
    if (word != Command.OK) throw end("the engine replied " + word + " where OK (0) was due");
  }

  /** A field type or comparator class number; the two registries number alike. */
  private FieldType readType() {
    int number = reply.readInt();
    FieldType type = FieldType.fromWire(number);
    if (type == null) throw end("the engine described an unknown type " + number);
    return type;
  }

  private int readCount() {
    int count = reply.readInt();
    if (count < 0) throw end("the engine replied a count of " + count);
    return count;
  }

  private static long fetchSize(int count, RecordLayout layout) {
    return (long) count * (4 + layout.size()) + 4;
  }

  private FetchResult readFetched(int count, RecordLayout layout) {
    reply.expect(fetchSize(count, layout));
    List<ViewRecord> records = new ArrayList<>(Math.min(count, 1024));
    int status;
    while (true) {
      status = readStatus();
      if (status != 0 || records.size() == count) break;
      byte[] bytes = new byte[layout.size()];
      reply.readBytes(bytes, 0, bytes.length);
      records.add(new ViewRecord(layout, bytes));
    }
    return new FetchResult(records, new ViewStatus(status));
  }
}
