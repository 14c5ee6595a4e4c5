package tarvo.kor;

/**
 * Command codes of the request protocol. A request is its code (a 4-byte
 * little-endian integer) followed by the command's arguments. These values
 * are on the wire and never change.
 */
final class Command {
  static final int CLOSE_SESSION = 1;
  static final int FLUSH_REPLIES = 2;
  static final int BEGIN_TRANSACTION = 3;
  static final int BEGIN_NESTED_TRANSACTION = 4;
  static final int COMMIT_TRANSACTION = 5;
  static final int ROLLBACK_TRANSACTION = 6;
  static final int OPEN_TABLE = 7;
  static final int CLOSE_TABLE = 8;
  static final int TABLE_STATUS = 9;
  static final int SET_TABLE_POSITION = 10;
  static final int SEEK_FORWARD = 11;
  static final int SEEK_BACKWARD = 12;
  static final int DELETE_CURRENT_RECORD = 13;
  static final int INSERT_RECORD = 14;
  static final int UPDATE_CURRENT_RECORD = 15;
  static final int MOVE_BY = 16;
  static final int FETCH_FORWARD = 17;
  static final int FETCH_BACKWARD = 18;
  static final int FETCH_CURRENT_RECORD = 19;
  static final int LIST_TABLES = 20;
  static final int LIST_COMPARATORS = 21;
  static final int DESCRIBE_TABLE = 22;
  static final int DESCRIBE_COMPARATOR = 23;
  static final int LIST_COUNTERS = 24;
  static final int NEXT_COUNTER_VALUE = 25;
  static final int NO_OPERATION = 26;
  static final int OPEN_TABLE_WITH_LOOKUPS = 27;
  static final int INSERT_RECORDS = 28;
  static final int DELETE_RECORDS_BY_KEY = 29;
  static final int DELETE_ALL_MATCHING = 30;
  static final int RAISE_COUNTER = 31;

  /** Modes of {@link #SET_TABLE_POSITION}: the status bit each one sets. */
  static final int POSITION_NONE = 1;
  static final int POSITION_BEFORE_FIRST = 2;
  static final int POSITION_AFTER_LAST = 4;

  /** The reply word that opens every successful non-data reply. */
  static final int OK = 0;

  private Command() {}
}
