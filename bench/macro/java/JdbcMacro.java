import java.nio.file.Files;
import java.nio.file.Path;
import java.sql.Connection;
import java.sql.DriverManager;
import java.sql.PreparedStatement;
import java.sql.ResultSet;
import java.sql.SQLException;
import java.sql.Statement;

// The macro benchmark's workloads through JDBC, in the working directory:
// SQLite (xerial sqlite-jdbc, file macro.db, synchronous=OFF, journal in
// memory, 16 MB page cache) or H2 embedded (file macro.mv.db, its default
// of no sync at commit, 16 MB cache). W1 inserts through executeBatch in
// batches of 1,000, all in one transaction.
//
//   java -cp ... JdbcMacro sqlite-jdbc|h2 N
public final class JdbcMacro {
  private JdbcMacro() {}

  public static void main(String[] args) throws Exception {
    if (args.length != 2) {
      System.err.println("usage: JdbcMacro sqlite-jdbc|h2 N");
      System.exit(1);
    }
    String peer = args[0];
    int n = Integer.parseInt(args[1]);
    new JdbcMacro().run(peer, n);
  }

  private Connection open(String peer) throws SQLException {
    if (peer.equals("h2")) {
      Path here = Path.of("").toAbsolutePath();
      return DriverManager.getConnection("jdbc:h2:" + here.resolve("macro") + ";CACHE_SIZE=16384");
    }
    Connection connection = DriverManager.getConnection("jdbc:sqlite:macro.db");
    try (Statement s = connection.createStatement()) {
      s.execute("PRAGMA synchronous=OFF");
      s.execute("PRAGMA journal_mode=MEMORY");
      s.execute("PRAGMA cache_size=-16384");
    }
    return connection;
  }

  private static double consume(ResultSet rs) throws SQLException {
    long id = rs.getLong(1);
    String name = rs.getString(2);
    double amount = rs.getDouble(3);
    return id + amount + name.charAt(0);
  }

  private void run(String peer, int n) throws Exception {
    Files.deleteIfExists(Path.of("macro.db"));
    Files.deleteIfExists(Path.of("macro.mv.db"));
    MacroData.Report report = new MacroData.Report(peer, n);
    Connection db = open(peer);
    try (Statement s = db.createStatement()) {
      String idType = peer.equals("h2") ? "BIGINT" : "INTEGER";
      s.execute("CREATE TABLE t(id " + idType + " PRIMARY KEY, name VARCHAR(30) NOT NULL,"
          + " amount DOUBLE PRECISION NOT NULL)");
      s.execute("CREATE INDEX t_name ON t(name)");
    }
    double sink = 0;

    long start = report.start();  // W1
    db.setAutoCommit(false);
    try (PreparedStatement insert = db.prepareStatement("INSERT INTO t(id, name, amount) VALUES (?, ?, ?)")) {
      for (long id = 1; id <= n; ++id) {
        insert.setLong(1, id);
        insert.setString(2, MacroData.nameOf(id));
        insert.setDouble(3, MacroData.amountOf(id));
        insert.addBatch();
        if (id % MacroData.BATCH == 0 || id == n) insert.executeBatch();
      }
    }
    db.commit();
    report.perOp("W1", start, n);

    long[] order = MacroData.shuffled(n, MacroData.LOOKUP_SEED);
    start = report.start();  // W2
    try (PreparedStatement select = db.prepareStatement("SELECT id, name, amount FROM t WHERE id = ?")) {
      for (long id : order) {
        select.setLong(1, id);
        try (ResultSet rs = select.executeQuery()) {
          if (!rs.next()) throw new IllegalStateException("W2: no record " + id);
          sink += consume(rs);
        }
      }
    }
    report.perOp("W2", start, n);

    sink += scan(db, "SELECT id, name, amount FROM t ORDER BY id", n, "W3", report);
    sink += scan(db, "SELECT id, name, amount FROM t ORDER BY name", n, "W4", report);
    db.commit();

    int count = n / 10;
    order = MacroData.shuffled(n, MacroData.UPDATE_SEED);
    start = report.start();  // W5
    try (PreparedStatement update = db.prepareStatement("UPDATE t SET amount = ? WHERE id = ?")) {
      for (int i = 0; i < count; ++i) {
        update.setDouble(1, MacroData.updatedAmount(order[i]));
        update.setLong(2, order[i]);
        if (update.executeUpdate() != 1) throw new IllegalStateException("W5");
      }
    }
    db.commit();
    report.perOp("W5", start, count);

    order = MacroData.shuffled(n, MacroData.DELETE_SEED);
    start = report.start();  // W6
    try (PreparedStatement delete = db.prepareStatement("DELETE FROM t WHERE id = ?")) {
      for (int i = 0; i < count; ++i) {
        delete.setLong(1, order[i]);
        delete.executeUpdate();
      }
    }
    db.commit();
    report.perOp("W6", start, count);

    start = report.start();  // W7
    db.close();
    db = open(peer);
    try (Statement s = db.createStatement();
        ResultSet rs = s.executeQuery("SELECT id, name, amount FROM t ORDER BY id LIMIT 1")) {
      if (!rs.next()) throw new IllegalStateException("W7");
      sink += consume(rs);
    }
    report.perOp("W7", start, 1);
    db.close();
    report.peak();
    System.err.printf("JdbcMacro %s: checksum %.2f%n", peer, sink);
  }

  private static double scan(Connection db, String sql, int n, String workload, MacroData.Report report)
      throws SQLException {
    long start = report.start();
    double sink = 0;
    int rows = 0;
    try (Statement s = db.createStatement(); ResultSet rs = s.executeQuery(sql)) {
      while (rs.next()) {
        sink += consume(rs);
        ++rows;
      }
    }
    report.perOp(workload, start, n);
    if (rows != n) throw new IllegalStateException(workload + " read " + rows + " rows");
    return sink;
  }
}
