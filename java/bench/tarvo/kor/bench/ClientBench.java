package tarvo.kor.bench;

import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.nio.charset.StandardCharsets;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import tarvo.kor.Counter;
import tarvo.kor.Session;
import tarvo.kor.TableView;
import tarvo.kor.Transaction;
import tarvo.kor.ViewDefinition;
import tarvo.kor.ViewRecord;

/**
 * What the Java client costs per operation over the in-process engine, one
 * line per workload ({@code name : X micros/op}, the median of several
 * runs), as wall-clock time and as the CPU time of the calling thread, on
 * which the in-process engine runs (steadier on a shared machine). Scans
 * show the effect of paging: the default page against one record per fetch. Runs in the current directory, which it fills with a
 * database of one table; start it in an empty directory.
 */
public final class ClientBench {
  private static final int RECORDS = 10_000;
  private static final int RUNS = 5;

  private static final String CONFIG = String.join("\r\n", "TIMEAUTOINCID TIME",
      "INDEXFILENAME 'INDEX.TMP'", "INDEXFILECLUSTERSHL 12", "INDEXFILEMINBUFFER 256",
      "STRUCTFILENAME 'STRUCT.ZSR'", "INETPORT 7000", "AUTOINCFILENAME 'COUNTERS.ZSR'",
      "INPUTTIMEOUT 0", "");
  private static final String STRUCTURE = String.join("\r\n",
      "COMPFUNC BYID INTEGERCOMPFUNC",
      "TABLE ITEMS FILENAME 'ITEMS.TBL'",
      "  RECORDTYPE FIELD ID INTEGER 8 FIELD NAME STRING 24 FIELD PRICE DOUBLE END",
      "  UNIQUEINDEXES INDEX FIELD ID BYID END END",
      "ENDTABLE END", "");

  private ClientBench() {}

  private interface Workload {
    /** Runs once on a fresh database; returns the number of operations done. */
    int run(Session session);
  }

  public static void main(String[] args) throws IOException {
    report("insert", ClientBench::insertOneByOne, false);
    report("insertAll (batches of 1000)", ClientBench::insertBatches, false);
    report("seek + current", ClientBench::seekAndRead, true);
    report("scan, default page", s -> scan(s, 0), true);
    report("scan, 1 record per fetch", s -> scan(s, 1), true);
    report("counter next", ClientBench::counterNext, false);
  }

  private static void report(String name, Workload workload, boolean filled) throws IOException {
    ThreadMXBean threads = ManagementFactory.getThreadMXBean();
    double[] wall = new double[RUNS];
    double[] cpu = new double[RUNS];
    for (int run = 0; run < RUNS; run++) {
      writeDatabase();
      try (Session session = Session.open(Paths.get("."))) {
        if (filled) insertBatches(session);
        long start = System.nanoTime();
        long startCpu = threads.getCurrentThreadCpuTime();
        int operations = workload.run(session);
        cpu[run] = (threads.getCurrentThreadCpuTime() - startCpu) / 1000.0 / operations;
        wall[run] = (System.nanoTime() - start) / 1000.0 / operations;
      }
    }
    Arrays.sort(wall);
    Arrays.sort(cpu);
    System.out.printf("%-30s : %8.3f micros/op (CPU %8.3f)%n", name, wall[RUNS / 2],
        cpu[RUNS / 2]);
  }

  private static int insertOneByOne(Session session) {
    try (Transaction tx = session.begin()) {
      try (TableView view = items(tx)) {
        ViewRecord r = view.newRecord();
        for (int id = 1; id <= RECORDS; id++) view.insert(fill(r, id));
      }
      tx.commit();
    }
    return RECORDS;
  }

  private static int insertBatches(Session session) {
    try (Transaction tx = session.begin()) {
      try (TableView view = items(tx)) {
        List<ViewRecord> batch = new ArrayList<>();
        for (int id = 1; id <= RECORDS; id++) {
          batch.add(fill(view.newRecord(), id));
          if (batch.size() == 1000) {
            view.insertAll(batch);
            batch.clear();
          }
        }
      }
      tx.commit();
    }
    return RECORDS;
  }

  private static int seekAndRead(Session session) {
    try (Transaction tx = session.begin(); TableView view = items(tx)) {
      long sum = 0;
      for (int i = 0; i < RECORDS; i++) {
        view.seek((long) (i * 7919 % RECORDS) + 1);
        sum += view.current().getLong("ID");
      }
      if (sum == 0) throw new AssertionError("nothing read");
    }
    return RECORDS;
  }

  private static int scan(Session session, int pageSize) {
    try (Transaction tx = session.begin(); TableView view = items(tx)) {
      if (pageSize > 0) view.setPageSize(pageSize);
      int count = view.readAll().size();
      if (count != RECORDS) throw new AssertionError(count + " records scanned");
    }
    return RECORDS;
  }

  private static int counterNext(Session session) {
    Counter counter = session.counter("ITEMS");
    for (int i = 0; i < RECORDS; i++) counter.next();
    return RECORDS;
  }

  private static TableView items(Transaction tx) {
    return tx.open(ViewDefinition.of("ITEMS").orderBy("ID", "BYID"));
  }

  private static ViewRecord fill(ViewRecord r, long id) {
    return r.setLong("ID", id).setString("NAME", "item " + id).setDouble("PRICE", id * 0.25);
  }

  private static void writeDatabase() throws IOException {
    Path here = Paths.get(".");
    try (DirectoryStream<Path> tables = Files.newDirectoryStream(here, "*.TBL")) {
      for (Path table : tables) Files.delete(table);
    }
    Files.write(here.resolve("CONFIG.ZSR"), CONFIG.getBytes(StandardCharsets.US_ASCII));
    Files.write(here.resolve("STRUCT.ZSR"), STRUCTURE.getBytes(StandardCharsets.US_ASCII));
    Files.write(here.resolve("COUNTERS.ZSR"), "TIME $1\r\n".getBytes(StandardCharsets.US_ASCII));
  }
}
