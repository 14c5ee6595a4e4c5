package tarvo.kor;

import java.util.ArrayList;
import java.util.Collection;
import java.util.List;

/**
 * A table seen through one transaction: the fields it shows, its records in
 * the order of its key, and a position (no position, before the first
 * record, on a record, after the last record). Opened by
 * {@link Transaction#open}.
 *
 * <p>Records exchanged with the view have its {@link #layout()}: make them
 * with {@link #newRecord()}. Seeks and key deletes use the record's key
 * fields (the view's order), the first {@code keyFields} of them.
 *
 * <p>Changes report a refusal as false: an insert or update whose unique key
 * is held by a record this transaction cannot see ended, a delete or update
 * of a record that is already ended. After a successful insert or update
 * the view stands on the new record; after a delete on the next one.
 */
public final class TableView implements AutoCloseable {
  private final Session session;
  private final Transaction transaction;
  private final int handle;
  private final ViewPlan plan;
  /** Open views that look this one up: the engine keeps this view until they close. */
  private int holders;
  private boolean closed;
  private boolean released;
  private ViewStatus lastStatus = new ViewStatus(ViewStatus.NO_POSITION);
  private int pageSize;

  TableView(Session session, Transaction transaction, int handle, ViewPlan plan) {
    this.session = session;
    this.transaction = transaction;
    this.handle = handle;
    this.plan = plan;
    for (TableView target : plan.lookedUp) target.holders++;
    this.pageSize = defaultPageSize(plan.layout);
  }

  /** Records per fetch when iterating: about 32 KB of reply, at least 1, at most 1024. */
  static int defaultPageSize(RecordLayout layout) {
    return Math.max(1, Math.min(1024, 32768 / (4 + layout.size())));
  }

  // --- Description ---

  public RecordLayout layout() {
    return plan.layout;
  }

  /** A new record of this view's layout, every field null. */
  public ViewRecord newRecord() {
    return new ViewRecord(plan.layout);
  }

  /** The number of key parts of the view's order. */
  public int keyFieldCount() {
    return plan.keyViewFields.length;
  }

  /** The view field (1-based) that holds key part {@code part} (1-based). */
  public Field keyField(int part) {
    if (part < 1 || part > keyFieldCount()) {
      throw new IllegalArgumentException("key part " + part + " is outside 1.." + keyFieldCount());
    }
    return plan.layout.field(plan.keyViewFields[part - 1]);
  }

  public Transaction transaction() {
    return transaction;
  }

  /** The status word of the last reply for this view, without asking the engine. */
  public ViewStatus lastStatus() {
    session.enter();
    try {
      return lastStatus;
    } finally {
      session.exit();
    }
  }

  // --- Position ---

  /** Asks the engine where the view stands. */
  public ViewStatus status() {
    session.enter();
    try {
      checkOpen();
      return remember(session.client().status(handle));
    } finally {
      session.exit();
    }
  }

  public ViewStatus unposition() {
    return setPosition(Command.POSITION_NONE);
  }

  public ViewStatus beforeFirst() {
    return setPosition(Command.POSITION_BEFORE_FIRST);
  }

  public ViewStatus afterLast() {
    return setPosition(Command.POSITION_AFTER_LAST);
  }

  private ViewStatus setPosition(int mode) {
    session.enter();
    try {
      checkOpen();
      return remember(session.client().setPosition(handle, mode));
    } finally {
      session.exit();
    }
  }

  /**
   * Moves to the first record whose first {@code keyFields} key fields are
   * at least those of {@code key}, or after the last record.
   */
  public ViewStatus seek(ViewRecord key, int keyFields) {
    return seek(key, keyFields, true);
  }

  /** Moves to the last record whose key fields are at most those of {@code key}, or before the first. */
  public ViewStatus seekBackward(ViewRecord key, int keyFields) {
    return seek(key, keyFields, false);
  }

  /** {@link #seek(ViewRecord, int)} with the first key fields set to {@code keyValues}. */
  public ViewStatus seek(Object... keyValues) {
    ViewRecord key = keyRecord(keyValues);
    return seek(key, keyValues.length, true);
  }

  public ViewStatus seekBackward(Object... keyValues) {
    ViewRecord key = keyRecord(keyValues);
    return seek(key, keyValues.length, false);
  }

  private ViewStatus seek(ViewRecord key, int keyFields, boolean forward) {
    checkRecord(key);
    checkKeyFields(keyFields);
    session.enter();
    try {
      checkOpen();
      return remember(session.client().seek(handle, forward, key.bytes(), keyFields));
    } finally {
      session.exit();
    }
  }

  /**
   * Steps {@code steps} records forward (negative: backward), stopping after
   * the last or before the first record; the step off the end counts.
   * Fails when the view has no position.
   */
  public MoveResult moveBy(int steps) {
    session.enter();
    try {
      checkOpen();
      MoveResult result = session.client().moveBy(handle, steps);
      lastStatus = result.status();
      return result;
    } finally {
      session.exit();
    }
  }

  // --- Reading ---

  /**
   * Reads up to {@code count} records from the current one forward; the view
   * ends on the record after the last one read. Fails (no records) when the
   * view has no position or stands before the first record.
   */
  public FetchResult fetch(int count) {
    return fetch(count, true);
  }

  /** As {@link #fetch}, backward; fails when the view has no position or stands after the last. */
  public FetchResult fetchBackward(int count) {
    return fetch(count, false);
  }

  private FetchResult fetch(int count, boolean forward) {
    checkCount(count);
    session.enter();
    try {
      checkOpen();
      return remember(session.client().fetch(handle, forward, count, plan.layout));
    } finally {
      session.exit();
    }
  }

  /** The record the view stands on, or null when it stands on none. */
  public ViewRecord current() {
    session.enter();
    try {
      checkOpen();
      FetchResult result = remember(session.client().fetchCurrent(handle, plan.layout));
      return result.records().isEmpty() ? null : result.records().get(0);
    } finally {
      session.exit();
    }
  }

  /** Iterates the view's records from its first, fetching {@link #pageSize()} per request. */
  public RecordIterator records() {
    session.enter();
    try {
      checkOpen();
      return new RecordIterator(this, null, 0, pageSize);
    } finally {
      session.exit();
    }
  }

  /** Iterates from the first record whose first {@code keyFields} key fields are at least {@code key}'s. */
  public RecordIterator recordsFrom(ViewRecord key, int keyFields) {
    checkRecord(key);
    checkKeyFields(keyFields);
    session.enter();
    try {
      checkOpen();
      return new RecordIterator(this, key.copy(), keyFields, pageSize);
    } finally {
      session.exit();
    }
  }

  /** Every record of the view, in order. */
  public List<ViewRecord> readAll() {
    List<ViewRecord> all = new ArrayList<>();
    try (RecordIterator it = records()) {
      while (it.hasNext()) all.add(it.next());
    }
    return all;
  }

  public int pageSize() {
    return pageSize;
  }

  /** Sets how many records one fetch of {@link #records()} asks for (1 or more). */
  public void setPageSize(int records) {
    checkCount(records);
    session.enter();
    try {
      checkOpen();
      pageSize = records;
    } finally {
      session.exit();
    }
  }

  // --- Changes ---

  /** Inserts {@code record}; false when a unique key of the table refuses it. */
  public boolean insert(ViewRecord record) {
    checkRecord(record);
    session.enter();
    try {
      checkOpen();
      return succeeded(session.client().insert(handle, record.bytes()));
    } finally {
      session.exit();
    }
  }

  /** Replaces the current record with {@code record}; false when refused or off a record. */
  public boolean update(ViewRecord record) {
    checkRecord(record);
    session.enter();
    try {
      checkOpen();
      return succeeded(session.client().update(handle, record.bytes()));
    } finally {
      session.exit();
    }
  }

  /** Deletes the current record; false when refused or off a record. */
  public boolean deleteCurrent() {
    session.enter();
    try {
      checkOpen();
      return succeeded(session.client().deleteCurrent(handle));
    } finally {
      session.exit();
    }
  }

  /**
   * Inserts the records in order in one request, stopping at the first
   * refusal; false when one was refused (those before it stay inserted).
   */
  public boolean insertAll(Collection<ViewRecord> records) {
    List<ViewRecord> batch = checkBatch(records);
    session.enter();
    try {
      checkOpen();
      return succeeded(session.client().insertRecords(handle, batch));
    } finally {
      session.exit();
    }
  }

  /**
   * For each key in order, deletes the first record whose first
   * {@code keyFields} key fields equal the key's (keys that match nothing
   * are skipped), in one request; false at the first refused delete.
   */
  public boolean deleteByKeys(Collection<ViewRecord> keys, int keyFields) {
    List<ViewRecord> batch = checkBatch(keys);
    checkKeyFields(keyFields);
    session.enter();
    try {
      checkOpen();
      return succeeded(session.client().deleteRecordsByKey(handle, keyFields, batch));
    } finally {
      session.exit();
    }
  }

  /**
   * Deletes every record whose first {@code keyFields} key fields equal
   * {@code key}'s (with 0, every record); false at the first refused delete.
   */
  public boolean deleteMatching(ViewRecord key, int keyFields) {
    checkRecord(key);
    checkKeyFields(keyFields);
    session.enter();
    try {
      checkOpen();
      return succeeded(session.client().deleteAllMatching(handle, keyFields, key.bytes()));
    } finally {
      session.exit();
    }
  }

  /** {@link #deleteMatching(ViewRecord, int)} with the first key fields set to {@code keyValues}. */
  public boolean deleteMatching(Object... keyValues) {
    ViewRecord key = keyRecord(keyValues);
    return deleteMatching(key, keyValues.length);
  }

  /** A record of this view with its first key fields set to {@code keyValues}. */
  public ViewRecord keyRecord(Object... keyValues) {
    if (keyValues == null) throw new NullPointerException("keyValues");
    checkKeyFields(keyValues.length);
    ViewRecord key = newRecord();
    for (int i = 0; i < keyValues.length; i++) key.set(plan.keyViewFields[i], keyValues[i]);
    return key;
  }

  // --- Closing ---

  /**
   * Closes the view. Does nothing the second time, or once its transaction
   * or session has ended.
   */
  @Override
  public void close() {
    if (!tryEnter()) return;
    try {
      closeHandle();
    } finally {
      session.exit();
    }
  }

  /** Whether the view is open: neither it, its transaction nor its session closed. */
  public boolean isOpen() {
    session.lockOnly();
    try {
      return !closed && !session.closed();
    } finally {
      session.exit();
    }
  }

  /** Closes this view and first every open view that looks it up, so the engine lets it go. */
  void closeWithHolders() {
    if (released) return;
    for (TableView other : new ArrayList<>(session.liveViews())) {
      if (other != this && other.plan.lookedUp.contains(this)) other.closeWithHolders();
    }
    closeHandle();
  }

  private void closeHandle() {
    if (closed) return;
    if (!session.client().ended()) session.client().closeTable(handle);
    closed = true;
    releaseIfUnused();
  }

  private void releaseIfUnused() {
    if (!closed || holders > 0 || released) return;
    released = true;
    transaction.viewReleased(this);
    session.viewReleased(this);
    for (TableView target : plan.lookedUp) {
      target.holders--;
      target.releaseIfUnused();
    }
  }

  // --- Checks ---

  private boolean tryEnter() {
    try {
      session.enter();
      return true;
    } catch (IllegalStateException e) {
      return false;
    }
  }

  /** Under the lock: the view may be used. */
  void checkOpen() {
    if (closed) throw new IllegalStateException(this + " is closed");
  }

  /** Under the lock: the view can be looked up by a new view of {@code owner}. */
  void checkLookupTarget(Session owner) {
    if (owner != session) {
      throw new IllegalArgumentException(this + " belongs to another session");
    }
    checkOpen();
  }

  Field keyFormat(int part) {
    return plan.keyFormats[part];
  }

  int handle() {
    return handle;
  }

  private void checkRecord(ViewRecord record) {
    if (record == null) throw new NullPointerException("record");
    if (record.layout() != plan.layout
        && !record.layout().fields().equals(plan.layout.fields())) {
      throw new IllegalArgumentException("the record has the layout " + record.layout()
          + ", not this view's " + plan.layout);
    }
  }

  private void checkKeyFields(int keyFields) {
    if (keyFields < 0 || keyFields > keyFieldCount()) {
      throw new IllegalArgumentException("key field count " + keyFields + " is outside 0.."
          + keyFieldCount());
    }
  }

  private static void checkCount(int count) {
    if (count < 1) throw new IllegalArgumentException("record count " + count + " is below 1");
  }

  private List<ViewRecord> checkBatch(Collection<ViewRecord> records) {
    if (records == null) throw new NullPointerException("records");
    List<ViewRecord> batch = new ArrayList<>(records);
    for (ViewRecord r : batch) checkRecord(r);
    return batch;
  }

  private ViewStatus remember(int status) {
    lastStatus = new ViewStatus(status);
    return lastStatus;
  }

  FetchResult remember(FetchResult result) {
    lastStatus = result.status();
    return result;
  }

  private boolean succeeded(int status) {
    return !remember(status).failed();
  }

  Session session() {
    return session;
  }

  @Override
  public String toString() {
    return "view " + handle + " of " + plan.tableName;
  }
}
