package tarvo.kor;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/**
 * The session's copy of the database's structure: tables with their fields,
 * comparators, counters. The engine reads its structure once at start and
 * never changes it, so each list is asked for once per session (the
 * first time it is needed) and kept. Called under the session's lock.
 */
final class Catalog {
  private final ProtocolClient client;
  private List<TableInfo> tables;
  private List<ComparatorInfo> comparators;
  private List<ProtocolClient.Entry> counters;

  Catalog(ProtocolClient client) {
    this.client = client;
  }

  List<TableInfo> tables() {
    if (tables == null) {
      List<TableInfo> loaded = new ArrayList<>();
      for (ProtocolClient.Entry e : client.list(Command.LIST_TABLES)) {
        loaded.add(new TableInfo(e.name, e.number, client.describeTable(e.number)));
      }
      tables = Collections.unmodifiableList(loaded);
    }
    return tables;
  }

  TableInfo table(String name) {
    if (name == null) throw new NullPointerException("table name");
    for (TableInfo t : tables()) {
      if (t.name().equalsIgnoreCase(name)) return t;
    }
    throw new IllegalArgumentException("the database has no table " + name);
  }

  TableInfo table(int number) {
    List<TableInfo> all = tables();
    if (number < 1 || number > all.size()) {
      throw new IllegalArgumentException("table number " + number + " is outside 1.." + all.size());
    }
    return all.get(number - 1);
  }

  List<ComparatorInfo> comparators() {
    if (comparators == null) {
      List<ComparatorInfo> loaded = new ArrayList<>();
      for (ProtocolClient.Entry e : client.list(Command.LIST_COMPARATORS)) {
        loaded.add(client.describeComparator(e.number, e.name));
      }
      comparators = Collections.unmodifiableList(loaded);
    }
    return comparators;
  }

  ComparatorInfo comparator(String name) {
    if (name == null) throw new NullPointerException("comparator name");
    for (ComparatorInfo c : comparators()) {
      if (c.name().equalsIgnoreCase(name)) return c;
    }
    throw new IllegalArgumentException("the database has no comparator " + name);
  }

  ComparatorInfo comparator(int number) {
    List<ComparatorInfo> all = comparators();
    if (number < 1 || number > all.size()) {
      throw new IllegalArgumentException("comparator number " + number + " is outside 1.."
          + all.size());
    }
    return all.get(number - 1);
  }

  List<ProtocolClient.Entry> counters() {
    if (counters == null) {
      counters = Collections.unmodifiableList(client.list(Command.LIST_COUNTERS));
    }
    return counters;
  }
}
