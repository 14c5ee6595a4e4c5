import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import tarvo.kor.RecordIterator;
import tarvo.kor.Session;
import tarvo.kor.TableView;
import tarvo.kor.Transaction;
import tarvo.kor.ViewDefinition;
import tarvo.kor.ViewRecord;

// The macro benchmark's workloads on Kor from Java, through the client API
// (package tarvo.kor) in this process: the database of
// bench/macro/kor_database.h (KOR_MACRO_BUFFERS too) in the working directory, W1 through
// insertAll and W6 through deleteByKeys in batches of 1,000, the scans
// through records() fetching 1,000 per request.
//
//   java -Dtarvo.kor.library=.../libkorjni.so -cp ... KorMacro N
public final class KorMacro {
  private static final String BUFFERS =
      System.getenv("KOR_MACRO_BUFFERS") != null ? System.getenv("KOR_MACRO_BUFFERS") : "4096";
  private static final String CONFIG = "TIMEAUTOINCID TIME\n"
      + "INDEXFILENAME 'INDEX.TMP'\n"
      + "INDEXFILECLUSTERSHL 12\n"
      + "INDEXFILEMINBUFFER " + BUFFERS + "\n"
      + "STRUCTFILENAME 'STRUCT.ZSR'\n"
      + "INETPORT 7000\n"
      + "AUTOINCFILENAME 'COUNTERS.ZSR'\n"
      + "INPUTTIMEOUT 0\n";
  private static final String STRUCTURE = "COMPFUNC BYNUMBER INTEGERCOMPFUNC\n"
      + "COMPFUNC BYNAME STRINGCOMPFUNC '-0123456789abcdef'\n"
      + "TABLE T FILENAME 'T.TBL'\n"
      + "  RECORDTYPE FIELD ID INTEGER 8 FIELD NAME STRING 30 FIELD AMOUNT DOUBLE END\n"
      + "  UNIQUEINDEXES INDEX FIELD ID BYNUMBER END END\n"
      + "ENDTABLE\n"
      + "END\n";
  private static final String COUNTERS = "TIME $1\r\n";
  private static final int ID = 1;
  private static final int NAME = 2;
  private static final int AMOUNT = 3;

  private KorMacro() {}

  public static void main(String[] args) throws IOException {
    if (args.length != 1) {
      System.err.println("usage: KorMacro N");
      System.exit(1);
    }
    run(Integer.parseInt(args[0]));
  }

  private static ViewDefinition byId() {
    return ViewDefinition.of("T").orderBy("ID", "BYNUMBER");
  }

  private static ViewDefinition byName() {
    return ViewDefinition.of("T").orderBy("NAME", "BYNAME");
  }

  private static double consume(ViewRecord record) {
    return record.getLong(ID) + record.getDouble(AMOUNT) + record.getString(NAME).charAt(0);
  }

  private static void fill(ViewRecord record, long id, double amount) {
    record.setLong(ID, id).setString(NAME, MacroData.nameOf(id)).setDouble(AMOUNT, amount);
  }

  private static double scan(TableView view, int n, String workload, MacroData.Report report) {
    long start = report.start();
    double sink = 0;
    int rows = 0;
    view.setPageSize(MacroData.BATCH);
    try (RecordIterator it = view.records()) {
      while (it.hasNext()) {
        sink += consume(it.next());
        ++rows;
      }
    }
    report.perOp(workload, start, n);
    if (rows != n) throw new IllegalStateException(workload + " read " + rows + " records");
    return sink;
  }

  /** W2 to W4, in one transaction. */
  private static double reads(TableView ids, TableView names, int n, MacroData.Report report) {
    double sink = 0;
    long[] order = MacroData.shuffled(n, MacroData.LOOKUP_SEED);
    long start = report.start();  // W2
    ViewRecord key = ids.newRecord();
    for (long id : order) {
      key.setLong(ID, id);
      if (!ids.seek(key, 1).onRecord()) throw new IllegalStateException("W2: no record " + id);
      sink += consume(ids.current());
    }
    report.perOp("W2", start, n);
    sink += scan(ids, n, "W3", report);
    sink += scan(names, n, "W4", report);
    return sink;
  }

  private static void run(int n) throws IOException {
    Path here = Path.of("").toAbsolutePath();
    Files.deleteIfExists(here.resolve("T.TBL"));
    Files.writeString(here.resolve("CONFIG.ZSR"), CONFIG, StandardCharsets.US_ASCII);
    Files.writeString(here.resolve("STRUCT.ZSR"), STRUCTURE, StandardCharsets.US_ASCII);
    Files.writeString(here.resolve("COUNTERS.ZSR"), COUNTERS, StandardCharsets.US_ASCII);
    MacroData.Report report = new MacroData.Report("kor-java", n);
    Session session = Session.open(here);
    double sink = 0;

    long start = report.start();  // W1
    try (Transaction tx = session.begin()) {
      tx.open(byName()).close();  // the NAME index, kept from now on
      try (TableView view = tx.open(byId())) {
        List<ViewRecord> batch = new ArrayList<>(MacroData.BATCH);
        for (long id = 1; id <= n; ++id) {
          ViewRecord record = view.newRecord();
          fill(record, id, MacroData.amountOf(id));
          batch.add(record);
          if (batch.size() == MacroData.BATCH || id == n) {
            if (!view.insertAll(batch)) throw new IllegalStateException("W1: insert refused");
            batch.clear();
          }
        }
      }
      tx.commit();
    }
    report.perOp("W1", start, n);

    try (Transaction tx = session.begin()) {
      try (TableView ids = tx.open(byId()); TableView names = tx.open(byName())) {
        sink += reads(ids, names, n, report);
      }
      tx.commit();
    }

    int count = n / 10;
    long[] order = MacroData.shuffled(n, MacroData.UPDATE_SEED);
    start = report.start();  // W5
    try (Transaction tx = session.begin()) {
      try (TableView view = tx.open(byId())) {
        ViewRecord key = view.newRecord();
        ViewRecord record = view.newRecord();
        for (int i = 0; i < count; ++i) {
          long id = order[i];
          key.setLong(ID, id);
          if (!view.seek(key, 1).onRecord()) throw new IllegalStateException("W5: no record " + id);
          fill(record, id, MacroData.updatedAmount(id));
          if (!view.update(record)) throw new IllegalStateException("W5: update refused");
        }
      }
      tx.commit();
    }
    report.perOp("W5", start, count);

    order = MacroData.shuffled(n, MacroData.DELETE_SEED);
    start = report.start();  // W6
    try (Transaction tx = session.begin()) {
      try (TableView view = tx.open(byId())) {
        List<ViewRecord> keys = new ArrayList<>(MacroData.BATCH);
        for (int i = 0; i < count; ++i) {
          keys.add(view.newRecord().setLong(ID, order[i]));
          if (keys.size() == MacroData.BATCH || i == count - 1) {
            if (!view.deleteByKeys(keys, 1)) throw new IllegalStateException("W6: delete refused");
            keys.clear();
          }
        }
      }
      tx.commit();
    }
    report.perOp("W6", start, count);

    start = report.start();  // W7
    session.close();
    session = Session.open(here);
    try (Transaction tx = session.begin()) {
      try (TableView view = tx.open(byId())) {
        view.beforeFirst();
        view.moveBy(1);
        ViewRecord first = view.current();
        if (first == null) throw new IllegalStateException("W7: no first record");
        sink += consume(first);
        report.perOp("W7", start, 1);
      }
      tx.commit();
    }
    session.close();
    report.peak();
    System.err.printf("KorMacro: checksum %.2f%n", sink);
  }
}
