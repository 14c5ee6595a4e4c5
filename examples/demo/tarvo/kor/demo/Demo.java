package tarvo.kor.demo;

import java.io.FileOutputStream;
import java.io.FileDescriptor;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import tarvo.kor.ComparatorInfo;
import tarvo.kor.Counter;
import tarvo.kor.Lookup;
import tarvo.kor.RecordIterator;
import tarvo.kor.Session;
import tarvo.kor.TableInfo;
import tarvo.kor.TableView;
import tarvo.kor.Transaction;
import tarvo.kor.ViewDefinition;
import tarvo.kor.ViewRecord;

/**
 * Opens the example shop database in the current directory, fills it with
 * customers, products and orders (once: a filled database is only read),
 * then reads it back: customers in Polish alphabetical order, products by
 * price, every order with its customer's and product's names looked up, one
 * customer's orders, and a change the unique index refuses.
 */
public final class Demo {
  private static final PrintStream OUT =
      new PrintStream(new FileOutputStream(FileDescriptor.out), true, StandardCharsets.UTF_8);

  private Demo() {}

  public static void main(String[] args) {
    try (Session session = Session.open(Paths.get("."))) {
      describe(session);
      fill(session);
      query(session);
    }
    OUT.println("Session closed.");
  }

  private static void describe(Session session) {
    OUT.println("Tables:");
    for (TableInfo table : session.tables()) OUT.println("  " + table);
    OUT.println("Comparators:");
    for (ComparatorInfo comparator : session.comparators()) OUT.println("  " + comparator);
    OUT.print("Counters:");
    for (Counter counter : session.counters()) OUT.print(" " + counter.name());
    OUT.println();
  }

  // --- Filling ---

  private static final String[][] CUSTOMERS = {
      {"Żak Zofia", "Zakopane", "zofia.zak@example.pl"},
      {"Łukasiewicz Ignacy", "Gorlice", "ignacy@example.pl"},
      {"Lis Marek", "Lublin", "marek.lis@example.pl"},
      {"Ćwik Anna", "Kraków", "anna.cwik@example.pl"},
      {"Cebula Piotr", "Łódź", "p.cebula@example.pl"},
      {"Śliwa Ewa", "Szczecin", "ewa@example.pl"},
      {"Sowa Jan", "Świnoujście", "jan.sowa@example.pl"},
      {"Adamczyk Tomasz", "Gdańsk", "tomasz@example.pl"}};

  private static final Object[][] PRODUCTS = {
      {"Młynek do kawy", 149.0, 12},
      {"Czajnik elektryczny", 89.99, 30},
      {"Łyżka drewniana", 7.5, 200},
      {"Garnek żeliwny", 329.0, 5},
      {"Ściereczka lniana", 12.0, 80},
      {"Zegar ścienny", 64.5, 9}};

  /** Customer number, product number (1-based in the lists above), quantity, date. */
  private static final Object[][] ORDERS = {
      {2, 3, 4, "2026-11-02"}, {5, 1, 1, "2026-11-03"}, {1, 4, 1, "2026-11-05"},
      {2, 6, 1, "2026-11-09"}, {4, 2, 2, "2026-11-12"}, {7, 5, 6, "2026-11-20"},
      {2, 1, 1, "2026-11-28"}, {8, 3, 10, "2026-12-01"}};

  private static void fill(Session session) {
    try (Transaction tx = session.begin()) {
      try (TableView customers = byId(tx, "CUSTOMERS")) {
        if (!customers.readAll().isEmpty()) {
          OUT.println("The database is filled already; reading it.");
          return;
        }
      }
      Counter customerIds = session.counter("CUSTOMERS");
      Counter productIds = session.counter("PRODUCTS");
      Counter orderIds = session.counter("ORDERS");
      long[] customerId = new long[CUSTOMERS.length];
      long[] productId = new long[PRODUCTS.length];
      try (TableView customers = byId(tx, "CUSTOMERS");
           TableView products = byId(tx, "PRODUCTS");
           TableView orders = byId(tx, "ORDERS")) {
        List<ViewRecord> batch = new ArrayList<>();
        for (int i = 0; i < CUSTOMERS.length; i++) {
          customerId[i] = customerIds.next();
          batch.add(customers.newRecord().set("ID", customerId[i]).set("NAME", CUSTOMERS[i][0])
              .set("CITY", CUSTOMERS[i][1]).set("EMAIL", CUSTOMERS[i][2]));
        }
        check(customers.insertAll(batch), "customers");
        for (int i = 0; i < PRODUCTS.length; i++) {
          productId[i] = productIds.next();
          check(products.insert(products.newRecord().set("ID", productId[i])
              .set("NAME", PRODUCTS[i][0]).set("PRICE", PRODUCTS[i][1])
              .set("STOCK", PRODUCTS[i][2])), "product " + PRODUCTS[i][0]);
        }
        batch.clear();
        for (Object[] order : ORDERS) {
          batch.add(orders.newRecord().set("ID", orderIds.next())
              .set("CUSTOMER_ID", customerId[(Integer) order[0] - 1])
              .set("PRODUCT_ID", productId[(Integer) order[1] - 1])
              .set("QUANTITY", order[2]).set("ORDERED", order[3]));
        }
        check(orders.insertAll(batch), "orders");
      }
      tx.commit();
      OUT.println("Filled: " + CUSTOMERS.length + " customers, " + PRODUCTS.length
          + " products, " + ORDERS.length + " orders.");
    }
  }

  private static void check(boolean inserted, String what) {
    if (!inserted) throw new IllegalStateException("the database refused " + what);
  }

  // --- Querying ---

  private static void query(Session session) {
    try (Transaction tx = session.begin()) {
      try (TableView customers = tx.open(ViewDefinition.of("CUSTOMERS")
          .fields("NAME", "CITY", "ID").orderBy("NAME", "POLISH"))) {
        OUT.println();
        OUT.println("Customers in Polish alphabetical order:");
        for (ViewRecord c : customers.readAll()) {
          OUT.printf("  %-22s %-14s (ID %d)%n", c.getString("NAME"), c.getString("CITY"),
              c.getLong("ID"));
        }
        customers.seek("łukasiewicz ignacy");
        ViewRecord found = customers.current();
        OUT.println("Seek for \"łukasiewicz ignacy\" (case ignored) finds: " + found);
      }

      try (TableView products = tx.open(ViewDefinition.of("PRODUCTS")
          .fields("PRICE", "NAME", "STOCK").orderBy("PRICE", "BYAMOUNT"))) {
        OUT.println();
        OUT.println("Products by price:");
        for (ViewRecord p : products.readAll()) {
          OUT.printf(Locale.ROOT, "  %8.2f zł  %-22s %4d in stock%n", p.getDouble("PRICE"),
              p.getString("NAME"), p.getLong("STOCK"));
        }
      }
      showOrders(tx);
      showOrdersOf(tx, "Łukasiewicz Ignacy");
      showRefusal(tx);
    }
  }

  /** Every order, with the customer's name and the product's name and price looked up. */
  private static void showOrders(Transaction tx) {
    try (TableView customers = byId(tx, "CUSTOMERS");
         TableView products = byId(tx, "PRODUCTS");
         TableView orders = tx.open(ViewDefinition.of("ORDERS")
             .fields("ID", "ORDERED", "CUSTOMER_ID", "PRODUCT_ID", "QUANTITY")
             .orderBy("ID", "BYID")
             .lookup(Lookup.in(customers).byField("CUSTOMER_ID").result("NAME", "CUSTOMER"))
             .lookup(Lookup.in(products).byField("PRODUCT_ID").result("NAME", "PRODUCT")
                 .result("PRICE")))) {
      OUT.println();
      OUT.println("Orders, with customer and product looked up:");
      double total = 0;
      try (RecordIterator it = orders.records()) {
        while (it.hasNext()) {
          ViewRecord o = it.next();
          double value = o.getDouble("PRICE") * o.getLong("QUANTITY");
          total += value;
          OUT.printf(Locale.ROOT, "  #%d %s  %-22s %2d x %-22s %9.2f zł%n", o.getLong("ID"),
              o.getString("ORDERED"), o.getString("CUSTOMER"), o.getLong("QUANTITY"),
              o.getString("PRODUCT"), value);
        }
      }
      OUT.printf(Locale.ROOT, "  Total: %.2f zł%n", total);
    }
  }

  /** One customer's orders: a view of ORDERS ordered by customer, from a seek on its ID. */
  private static void showOrdersOf(Transaction tx, String name) {
    try (TableView customers = tx.open(ViewDefinition.of("CUSTOMERS").fields("NAME", "ID")
        .orderBy("NAME", "POLISH"))) {
      customers.seek(name);
      ViewRecord customer = customers.current();
      try (TableView products = byId(tx, "PRODUCTS");
           TableView orders = tx.open(ViewDefinition.of("ORDERS")
               .fields("CUSTOMER_ID", "ID", "PRODUCT_ID", "QUANTITY")
               .orderBy("CUSTOMER_ID", "BYID").orderBy("ID", "BYID")
               .lookup(Lookup.in(products).byField("PRODUCT_ID").result("NAME", "PRODUCT")));
           RecordIterator it = orders.recordsFrom(orders.keyRecord(customer.getLong("ID")), 1)) {
        OUT.println();
        OUT.println("Orders of " + customer.getString("NAME") + ":");
        while (it.hasNext()) {
          ViewRecord o = it.next();
          if (!o.getLong("CUSTOMER_ID").equals(customer.getLong("ID"))) break;
          OUT.println("  #" + o.getLong("ID") + ": " + o.getLong("QUANTITY") + " x "
              + o.getString("PRODUCT"));
        }
      }
    }
  }

  /** A second product whose name differs only in case is refused, and nothing is changed. */
  private static void showRefusal(Transaction tx) {
    try (Transaction attempt = tx.beginNested(); TableView products = byId(attempt, "PRODUCTS")) {
      boolean inserted = products.insert(products.newRecord().set("ID", 999L)
          .set("NAME", "MŁYNEK DO KAWY").set("PRICE", 1.0).set("STOCK", 1));
      OUT.println();
      OUT.println("Inserting \"MŁYNEK DO KAWY\" again: "
          + (inserted ? "inserted (unexpected)" : "refused, the name is taken"));
    }
  }

  private static TableView byId(Transaction tx, String table) {
    return tx.open(ViewDefinition.of(table).orderBy("ID", "BYID"));
  }
}
