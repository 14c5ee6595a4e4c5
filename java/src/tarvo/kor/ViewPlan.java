package tarvo.kor;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;

/**
 * A {@link ViewDefinition} checked against the catalogue and turned into the
 * numbers of the open-table request, with the view record's layout. Every
 * rule the engine would end the session for is checked here instead: at
 * least one field, field numbers within the table, no field twice, a key of
 * 1 to 10000 parts over shown fields with comparators that accept their
 * types, and lookups whose key parts match the looked-up key in type and
 * width.
 */
final class ViewPlan {
  static final int MAX_KEY_PARTS = 10000;

  final String tableName;
  final int table;
  final int[] fields;
  final int[] keyFields;
  final int[] keyComparators;
  /** Per key part: the view field that holds it. */
  final int[] keyViewFields;
  /** Per key part: the table field's format, which lookups into this view must match. */
  final Field[] keyFormats;
  final List<ProtocolClient.WireLookup> lookups;
  final List<TableView> lookedUp;
  final RecordLayout layout;

  private ViewPlan(String tableName, int table, int[] fields, int[] keyFields,
      int[] keyComparators, int[] keyViewFields, Field[] keyFormats,
      List<ProtocolClient.WireLookup> lookups, List<TableView> lookedUp, RecordLayout layout) {
    this.tableName = tableName;
    this.table = table;
    this.fields = fields;
    this.keyFields = keyFields;
    this.keyComparators = keyComparators;
    this.keyViewFields = keyViewFields;
    this.keyFormats = keyFormats;
    this.lookups = lookups;
    this.lookedUp = lookedUp;
    this.layout = layout;
  }

  /** Called under the session's lock. */
  static ViewPlan resolve(Session session, ViewDefinition definition) {
    Catalog catalog = session.catalog();
    TableInfo table = definition.table.name != null ? catalog.table(definition.table.name)
        : catalog.table(definition.table.number);

    int[] fields = shownFields(table, definition);
    List<Field> viewFields = new ArrayList<>();
    for (int i = 0; i < fields.length; i++) {
      Field f = table.field(fields[i]);
      viewFields.add(f.renumbered(i + 1, f.name()));
    }

    int parts = definition.key.size();
    if (parts < 1 || parts > MAX_KEY_PARTS) {
      throw new IllegalArgumentException("a view of " + table.name() + " needs an order of 1.."
          + MAX_KEY_PARTS + " key parts (orderBy), not " + parts);
    }
    int[] keyFields = new int[parts];
    int[] keyComparators = new int[parts];
    int[] keyViewFields = new int[parts];
    Field[] keyFormats = new Field[parts];
    for (int i = 0; i < parts; i++) {
      ViewDefinition.Ref[] part = definition.key.get(i);
      Field f = part[0].name != null ? table.field(part[0].name) : table.field(part[0].number);
      ComparatorInfo c = part[1].name != null ? catalog.comparator(part[1].name)
          : catalog.comparator(part[1].number);
      if (c.orders() != f.type()) {
        throw new IllegalArgumentException("comparator " + c.name() + " orders " + c.orders()
            + " fields, not field " + f.name() + " of type " + f.type());
      }
      int shown = indexOf(fields, f.number());
      if (shown < 0) {
        throw new IllegalArgumentException("the view orders by " + f.name()
            + ", which is not among its fields; show it too");
      }
      keyFields[i] = f.number();
      keyComparators[i] = c.number();
      keyViewFields[i] = shown + 1;
      keyFormats[i] = f;
    }

    List<ProtocolClient.WireLookup> lookups = new ArrayList<>();
    List<TableView> lookedUp = new ArrayList<>();
    for (Lookup lookup : definition.lookups) {
      lookups.add(resolveLookup(session, lookup, viewFields));
      lookedUp.add(lookup.view);
    }
    RecordLayout layout = new RecordLayout(viewFields, session.charset());
    return new ViewPlan(table.name(), table.number(), fields, keyFields, keyComparators,
        keyViewFields, keyFormats, lookups, lookedUp, layout);
  }

  private static int[] shownFields(TableInfo table, ViewDefinition definition) {
    if (!definition.fieldsGiven) {
      int[] all = new int[table.fields().size()];
      for (int i = 0; i < all.length; i++) all[i] = i + 1;
      return all;
    }
    if (definition.fields.isEmpty()) {
      throw new IllegalArgumentException("a view of " + table.name() + " shows at least one field");
    }
    int[] fields = new int[definition.fields.size()];
    for (int i = 0; i < fields.length; i++) {
      ViewDefinition.Ref ref = definition.fields.get(i);
      int number = ref.name != null ? table.field(ref.name).number() : table.field(ref.number).number();
      if (indexOf(Arrays.copyOf(fields, i), number) >= 0) {
        throw new IllegalArgumentException("field " + table.field(number).name()
            + " is shown twice");
      }
      fields[i] = number;
    }
    return fields;
  }

  /** Resolves one lookup, appending its result fields to {@code viewFields}. */
  private static ProtocolClient.WireLookup resolveLookup(Session session, Lookup lookup,
      List<Field> viewFields) {
    TableView target = lookup.view;
    target.checkLookupTarget(session);
    int parts = lookup.parts.size();
    if (parts < 1 || parts > target.keyFieldCount()) {
      throw new IllegalArgumentException("a lookup into " + target + " takes 1.."
          + target.keyFieldCount() + " key parts, not " + parts);
    }
    int[] fieldParts = new int[parts];
    byte[][] constants = new byte[parts][];
    for (int j = 0; j < parts; j++) {
      Lookup.Part part = lookup.parts.get(j);
      Field keyField = target.keyFormat(j);
      if (part.isConstant()) {
        fieldParts[j] = -1;
        constants[j] = encodeConstant(session, keyField, part.constant);
        continue;
      }
      Field source = part.field != null ? byName(viewFields, part.field)
          : byNumber(viewFields, part.number);
      if (!source.sameFormatAs(keyField)) {
        throw new IllegalArgumentException("lookup key part " + (j + 1) + " comes from "
            + source + " but fills key field " + keyField + " of " + target);
      }
      fieldParts[j] = source.number();
    }
    int[] results = new int[lookup.results.size()];
    RecordLayout targetLayout = target.layout();
    for (int i = 0; i < results.length; i++) {
      Lookup.Result result = lookup.results.get(i);
      Field f = result.field != null ? targetLayout.field(result.field)
          : targetLayout.field(result.number);
      results[i] = f.number();
      viewFields.add(f.renumbered(viewFields.size() + 1, result.alias.toUpperCase(Locale.ROOT)));
    }
    return new ProtocolClient.WireLookup(target.handle(), fieldParts, constants, results);
  }

  /** The constant's bytes in the key field's format, exactly its width. */
  private static byte[] encodeConstant(Session session, Field keyField, Object value) {
    ViewRecord holder = new ViewRecord(new RecordLayout(List.of(keyField.renumbered(1, keyField.name())),
        session.charset()));
    holder.set(1, value);
    return Arrays.copyOf(holder.bytes(), keyField.width());
  }

  private static Field byName(List<Field> fields, String name) {
    for (Field f : fields) {
      if (f.name().equalsIgnoreCase(name)) return f;
    }
    throw new IllegalArgumentException("the view has no field " + name + " for a lookup key");
  }

  private static Field byNumber(List<Field> fields, int number) {
    if (number < 1 || number > fields.size()) {
      throw new IllegalArgumentException("a lookup key names field " + number
          + "; the view has fields 1.." + fields.size() + " before it");
    }
    return fields.get(number - 1);
  }

  private static int indexOf(int[] values, int value) {
    for (int i = 0; i < values.length; i++) {
      if (values[i] == value) return i;
    }
    return -1;
  }
}
