package tarvo.kor;

import java.nio.charset.Charset;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.locks.ReentrantLock;

/**
 * A session with a Kor database: the root of every handle. Open one with
 * {@link #open(Path)} (the engine in this process; the JVM must have been
 * started in the database directory) or over a {@link Transport} with
 * {@link #over}; then begin transactions and open table views in them:
 *
 * <pre>{@code
 * try (Session session = Session.open(Paths.get("."));
 *      Transaction tx = session.begin()) {
 *   try (TableView customers = tx.open(ViewDefinition.of("CUSTOMERS").orderBy("ID", "BYID"))) {
 *     ViewRecord r = customers.newRecord().set("ID", 1L).set("NAME", "Kowalski");
 *     if (!customers.insert(r)) System.out.println("ID 1 is taken");
 *   }
 *   tx.commit();  // its views closed first
 * }
 * }</pre>
 *
 * <p>Rules every handle (session, transaction, view, iterator) keeps:
 * <ul>
 *   <li>it is {@link AutoCloseable}, and closing it again does nothing;
 *       closing a transaction that was not committed rolls it back, closing
 *       the session closes its views, rolls back its transactions, and ends
 *       the engine session;
 *   <li>a call on a closed handle throws {@link IllegalStateException}
 *       without reaching the engine; so do calls that would break the
 *       engine's rules (commit with a view open, a second nested
 *       transaction); wrong arguments throw {@link IllegalArgumentException}
 *       or {@link NullPointerException}, also before anything is sent;
 *   <li>a change the engine refuses (a unique key taken, a record already
 *       deleted) is a false result, never an exception;
 *   <li>a session the engine has ended throws {@link SessionEndedException}
 *       from every call but close.
 * </ul>
 *
 * <p>All calls of a session and its handles run one at a time under one
 * lock, so they may be shared between threads.
 */
public final class Session implements AutoCloseable {
  /**
   * The character set of STRING fields unless another is given: the Polish
   * Windows code page, in which the engine's collations are written.
   */
  public static final Charset DEFAULT_CHARSET = Charset.forName("windows-1250");

  private final ReentrantLock lock = new ReentrantLock();
  private final Transport transport;
  private final ProtocolClient client;
  private final Catalog catalog;
  private final Charset charset;
  /** Live top-level transactions, in the order they began. */
  private final List<Transaction> transactions = new ArrayList<>();
  /** Views the engine holds (open, or closed but looked up by an open one), in opening order. */
  private final List<TableView> views = new ArrayList<>();
  private boolean closed;
  private int closeMask = -1;

  private Session(Transport transport, Charset charset) {
    this.transport = transport;
    this.charset = charset;
    this.client = new ProtocolClient(transport, charset);
    this.catalog = new Catalog(client);
  }

  /** Opens the database in {@code directory} in this process, STRING fields in {@link #DEFAULT_CHARSET}. */
  public static Session open(Path directory) {
    return open(directory, DEFAULT_CHARSET);
  }

  /**
   * Opens the database in {@code directory} in this process. One session
   * per process: the library holds one.
   *
   * @throws KorException when {@code directory} is not the JVM's current
   *     directory, holds no CONFIG.ZSR, or the engine refuses its files
   * @throws IllegalStateException when this process has a session open
   */
  public static Session open(Path directory, Charset charset) {
    if (charset == null) throw new NullPointerException("charset");
    return over(InProcessTransport.open(directory), charset);
  }

  /** Connects to korserver at {@code host}:{@code port}. */
  public static Session connect(String host, int port, Charset charset) {
    if (host == null) throw new NullPointerException("host");
    if (charset == null) throw new NullPointerException("charset");
    return over(SocketTransport.connect(host, port, 10_000), charset);
  }

  /**
   * Starts a session over {@code transport}, which now belongs to the
   * session: the engine's greeting is read and checked, and the transport
   * is closed with the session (or at once, if the greeting is wrong).
   */
  public static Session over(Transport transport, Charset charset) {
    if (transport == null) throw new NullPointerException("transport");
    if (charset == null) throw new NullPointerException("charset");
    Session session = new Session(transport, charset);
    boolean greeted = false;
    try {
      session.client.readGreeting();
      greeted = true;
    } finally {
      if (!greeted) transport.close();
    }
    return session;
  }

  // --- Transactions ---

  /** Begins a top-level transaction: a snapshot of the committed data. */
  public Transaction begin() {
    enter();
    try {
      Transaction tx = new Transaction(this, null, client.beginTransaction());
      transactions.add(tx);
      return tx;
    } finally {
      exit();
    }
  }

  // --- Catalogue ---

  /** The database's tables in declaration order, with their fields. */
  public List<TableInfo> tables() {
    enter();
    try {
      return catalog.tables();
    } finally {
      exit();
    }
  }

  /** The table named {@code name} (case ignored). */
  public TableInfo table(String name) {
    enter();
    try {
      return catalog.table(name);
    } finally {
      exit();
    }
  }

  /** The database's comparators in declaration order. */
  public List<ComparatorInfo> comparators() {
    enter();
    try {
      return catalog.comparators();
    } finally {
      exit();
    }
  }

  public ComparatorInfo comparator(String name) {
    enter();
    try {
      return catalog.comparator(name);
    } finally {
      exit();
    }
  }

  /** The counters clients may use (the engine's commit clock is not one of them). */
  public List<Counter> counters() {
    enter();
    try {
      List<Counter> result = new ArrayList<>();
      for (ProtocolClient.Entry e : catalog.counters()) {
        result.add(new Counter(this, e.name, e.number));
      }
      return Collections.unmodifiableList(result);
    } finally {
      exit();
    }
  }

  /** The counter named {@code name} (case ignored). */
  public Counter counter(String name) {
    if (name == null) throw new NullPointerException("counter name");
    for (Counter c : counters()) {
      if (c.name().equalsIgnoreCase(name)) return c;
    }
    throw new IllegalArgumentException("the database has no counter " + name);
  }

  // --- State ---

  public Charset charset() {
    return charset;
  }

  /** Whether {@link #close()} has not been called yet. */
  public boolean isOpen() {
    lock.lock();
    try {
      return !closed;
    } finally {
      lock.unlock();
    }
  }

  /** Whether the engine has ended the session (it then serves no more calls). */
  public boolean isEnded() {
    lock.lock();
    try {
      return client.ended();
    } finally {
      lock.unlock();
    }
  }

  /**
   * Closes every open view, rolls back every live transaction, ends the
   * engine session and releases the transport (in-process: KorDone). Does
   * nothing the second time. A session the engine has already ended is
   * only released.
   */
  @Override
  public void close() {
    lock.lock();
    try {
      if (closed) return;
      try {
        if (!client.ended()) {
          for (int i = transactions.size() - 1; i >= 0; i--) transactions.get(i).close();
          closeMask = client.closeSession();
        }
      } catch (SessionEndedException e) {
        // The engine ended the session during the clean-up: it ends what was
        // left open itself, and the transport must still be released.
      } finally {
        closed = true;
        transport.close();
      }
    } finally {
      lock.unlock();
    }
  }

  // --- For the handles of this session ---

  /** Takes the session's lock and checks that the session is open; pair with {@link #exit}. */
  void enter() {
    lock.lock();
    if (closed) {
      lock.unlock();
      throw new IllegalStateException("the session is closed");
    }
  }

  void exit() {
    lock.unlock();
  }

  /** Takes the lock without the check, for state queries that also answer on a closed session. */
  void lockOnly() {
    lock.lock();
  }

  boolean closed() {
    return closed;
  }

  ProtocolClient client() {
    return client;
  }

  Catalog catalog() {
    return catalog;
  }

  void transactionEnded(Transaction tx) {
    transactions.remove(tx);
  }

  void viewOpened(TableView view) {
    views.add(view);
  }

  void viewReleased(TableView view) {
    views.remove(view);
  }

  List<TableView> liveViews() {
    return views;
  }

  /** The open-objects mask the engine replied to close session; -1 before. */
  int closeMask() {
    return closeMask;
  }
}
