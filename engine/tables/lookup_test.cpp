#include "engine/tables/lookup.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/exceptions.h"
#include "engine/base/numeric.h"

#include "engine/tables/raw_table.h"
#include "engine/tables/table.h"

#include "tests/support/version_fixture.h"

namespace kor {
namespace {

using test::GetInt;
using test::GetText;
using test::SetInt;
using test::SetText;

// A value of a view field for the tables below: an integer, a text or null.
struct TValue {
  std::optional<int64_t> Int;
  std::optional<std::string> Text;
};
TValue I(int64_t value) { return {value, std::nullopt}; }
TValue S(std::string value) { return {std::nullopt, std::move(value)}; }
const TValue kNull{};

bool operator==(const TValue& a, const TValue& b) { return a.Int == b.Int && a.Text == b.Text; }
void PrintTo(const TValue& v, std::ostream* os) {
  *os << (v.Int ? std::to_string(*v.Int) : v.Text ? "\"" + *v.Text + "\"" : "null");
}

// COUNTRY (CODE, NAME), CITY (CODE, NAME, COUNTRY), PERSON (ID, NAME, CITY);
// every CODE and ID unique, names STRING 8.
//   countries  1 pl, 2 de
//   cities     10 krk in 1, 20 ber in 2, null "nowhere" in 3, 30 xyz in null
//   people     1 ann in 10, 2 bob in 20, 3 cid in 99, 4 dan in null, 5 eve in 30
class LookupTest : public test::TLeakCheckedTest {
 protected:
  void SetUp() override {
    TLeakCheckedTest::SetUp();
    Storage.emplace(10, 9);
    Storage->Open();
    IntOrder = MakeRef<TIntegerCompFunc>(kIntegerCompFuncClass);
    Country = OpenRaw("COUNTRY", {{"CODE", 'I', 4}, {"NAME", 'S', 8}});
    City = OpenRaw("CITY", {{"CODE", 'I', 4}, {"NAME", 'S', 8}, {"COUNTRY", 'I', 4}});
    Person = OpenRaw("PERSON", {{"ID", 'I', 4}, {"NAME", 'S', 8}, {"CITY", 'I', 4}});
    T = Storage->Begin();
    Fill(Country, {{I(1), S("pl")}, {I(2), S("de")}});
    Fill(City, {{I(10), S("krk"), I(1)},
                {I(20), S("ber"), I(2)},
                {kNull, S("nowhere"), I(3)},
                {I(30), S("xyz"), kNull}});
    Fill(Person, {{I(1), S("ann"), I(10)},
                  {I(2), S("bob"), I(20)},
                  {I(3), S("cid"), I(99)},
                  {I(4), S("dan"), kNull},
                  {I(5), S("eve"), I(30)}});
  }
  void TearDown() override {
    if (T) TTransaction::Finish(std::move(T), false);
    Country.Reset();
    City.Reset();
    Person.Reset();
    Storage.reset();
    IntOrder.Reset();
    ExpectNoLeak();
  }

  Ref<TRawTable> OpenRaw(const std::string& name, const std::vector<test::TFieldSpec>& fields) {
    auto declared = test::MakeRecordType(fields);
    auto raw = MakeRef<TRawTable>(Storage->File(name + ".DAT"), Storage->MgrRef(), declared);
    raw->AddUniqueIndex(*ByFirst(*raw));
    return raw;
  }
  Ref<TRecordCompFunc> ByFirst(TRawTable& raw) {
    return test::MakeOrder(raw.DeclaredRecordType(), {1}, *IntOrder);
  }
  // A view of every field of `raw`, ordered by its first field.
  Ref<TTable> View(Ref<TRawTable> raw, std::vector<Ref<TLookup>> lookups = {}) {
    std::vector<int32_t> fields;
    for (int32_t f = 1; f <= raw->DeclaredRecordType().FieldCount(); ++f) fields.push_back(f);
    return MakeRef<TTable>(raw, fields, T, *ByFirst(*raw), std::move(lookups));
  }
  static void Set(TTable& view, int32_t field, const TValue& value) {
    const TRecordType& type = view.ViewRecordType();
    if (value.Int) {
      SetInt(type, view.ViewBuffer(), field, *value.Int);
    } else if (value.Text) {
      SetText(type, view.ViewBuffer(), field, *value.Text);
    } else {
      type.SetNull(view.ViewBuffer(), field);
    }
  }
  static TValue Get(const TTable& view, int32_t field) {
    const TRecordType& type = view.ViewRecordType();
    if (type.IsNull(view.ViewBuffer(), field)) return kNull;
    if (type.FieldTypeAt(field).ClassNumber() == kStringTypeClass) {
      return S(*GetText(type, view.ViewBuffer(), field));
    }
    return I(*GetInt(type, view.ViewBuffer(), field));
  }
  void Fill(Ref<TRawTable> raw, const std::vector<std::vector<TValue>>& rows) {
    Ref<TTable> view = View(raw);
    for (const auto& row : rows) {
      for (size_t f = 0; f < row.size(); ++f) Set(*view, static_cast<int32_t>(f + 1), row[f]);
      ASSERT_TRUE(view->Insert());
    }
  }
  // Every record of `view` in its order, as read with its lookups.
  static std::vector<std::vector<TValue>> Rows(TTable& view) {
    std::vector<std::vector<TValue>> rows;
    view.GoBeforeFirst();
    while (view.Next() && view.IsOnRecord()) {
      EXPECT_TRUE(view.ReadCurrent());
      std::vector<TValue> row;
      for (int32_t f = 1; f <= view.ViewRecordType().FieldCount(); ++f) row.push_back(Get(view, f));
      rows.push_back(std::move(row));
    }
    return rows;
  }

  std::optional<test::TVersionStorage> Storage;
  Ref<TIntegerCompFunc> IntOrder;
  Ref<TRawTable> Country;
  Ref<TRawTable> City;
  Ref<TRawTable> Person;
  Ref<TTransaction> T;
};

// PERSON joined to its city (name and country), and through the city's
// country to the country's name: a lookup fed by an earlier one.
TEST_F(LookupTest, LookupsFillResultsAndChain) {
  Ref<TTable> cities = View(City);
  Ref<TTable> countries = View(Country);
  auto city = MakeRef<TLookup>(cities);
  EXPECT_EQ(city->NextPartSize(), 4);
  city->AddFieldPart(3);  // PERSON.CITY
  city->AddResultField(2);
  city->AddResultField(3);
  auto country = MakeRef<TLookup>(countries);
  country->AddFieldPart(5);  // the city's COUNTRY, filled by the first lookup
  country->AddResultField(2);
  Ref<TTable> people = View(Person, {city, country});
  city.Reset();
  country.Reset();

  const TRecordType& type = people->ViewRecordType();
  ASSERT_EQ(type.FieldCount(), 6);
  EXPECT_EQ(people->OwnFieldCount(), 3);
  EXPECT_EQ(people->LookupCount(), 2);
  EXPECT_EQ(type.FieldName(4), "NAME");
  EXPECT_EQ(type.FieldName(5), "COUNTRY");
  EXPECT_EQ(people->ViewRecordSize(), 4 + 8 + 4 + 8 + 4 + 8 + 1);

  const std::vector<std::vector<TValue>> expected = {
      {I(1), S("ann"), I(10), S("krk"), I(1), S("pl")},    // a match, and a match
      {I(2), S("bob"), I(20), S("ber"), I(2), S("de")},    // likewise
      {I(3), S("cid"), I(99), kNull, kNull, kNull},        // no city: all null
      {I(4), S("dan"), kNull, S("nowhere"), I(3), kNull},  // a null key finds the null code
      {I(5), S("eve"), I(30), S("xyz"), kNull, kNull},     // a null fed on finds nothing
  };
  EXPECT_EQ(Rows(*people), expected);
  // Reading moved the looked-up views.
  EXPECT_EQ(cities->Status(), 0);
  EXPECT_EQ(Get(*cities, 1), I(30));
  EXPECT_EQ(countries->Status(), 0);  // on the first country, no match

  people.ReleaseLast();
  cities.ReleaseLast();
  countries.ReleaseLast();
}

TEST_F(LookupTest, ConstantParts) {
  struct TCase {
    const char* Name;
    std::optional<int32_t> Code;
    TValue Result;
  };
  const TCase cases[] = {
      {"a code that exists", 20, S("ber")},
      {"a code that does not", 21, kNull},
      {"a null constant", std::nullopt, S("nowhere")},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Ref<TTable> cities = View(City);
    auto lookup = MakeRef<TLookup>(cities);
    unsigned char bytes[4];
    EncodeInt32(bytes, c.Code.value_or(0));
    lookup->AddConstantPart(c.Code ? bytes : nullptr);
    EXPECT_THROW(lookup->NextPartSize(), EReaderSyntaxError);
    EXPECT_THROW(lookup->AddConstantPart(bytes), EReaderSyntaxError);
    EXPECT_THROW(lookup->AddFieldPart(1), EReaderSyntaxError);
    lookup->AddResultField(2);
    EXPECT_EQ(lookup->PartCount(), 1);
    EXPECT_EQ(lookup->PartField(0), -1);
    Ref<TTable> people = View(Person, {lookup});
    lookup.Reset();
    for (const auto& row : Rows(*people)) EXPECT_EQ(row[3], c.Result);
    people.ReleaseLast();
    cities.ReleaseLast();
  }
}

// A lookup with fewer parts than its order has fields searches on the
// leading ones: the first city of a country, in (COUNTRY, CODE) order.
TEST_F(LookupTest, FewerPartsThanOrderFields) {
  const int32_t fields[] = {1, 2, 3};
  auto byCountry = test::MakeOrder(City->DeclaredRecordType(), {3, 1}, *IntOrder);
  auto cities = MakeRef<TTable>(City, fields, T, *byCountry);
  auto lookup = MakeRef<TLookup>(cities);
  EXPECT_EQ(lookup->NextPartSize(), 4);
  lookup->AddFieldPart(1);  // COUNTRY.CODE
  lookup->AddResultField(2);
  Ref<TTable> countries = View(Country, {lookup});
  lookup.Reset();
  EXPECT_EQ(Rows(*countries), (std::vector<std::vector<TValue>>{{I(1), S("pl"), S("krk")},
                                                                {I(2), S("de"), S("ber")}}));
  countries.ReleaseLast();
  cities.ReleaseLast();
}

TEST_F(LookupTest, LookupsThatCannotBeBuiltAreRefused) {
  Ref<TTable> cities = View(City);
  {
    auto lookup = MakeRef<TLookup>(cities);
    EXPECT_THROW(lookup->AddResultField(0), EReaderSyntaxError);
    EXPECT_THROW(lookup->AddResultField(4), EReaderSyntaxError);
    EXPECT_THROW(lookup->AddFieldPart(0), EReaderSyntaxError);
    EXPECT_EQ(lookup->ResultFieldCount(), 0);
    EXPECT_EQ(lookup->PartCount(), 0);
  }
  struct TCase {
    const char* Name;
    int32_t PartField;
  };
  const TCase cases[] = {
      {"a field not filled before the lookup", 4},
      {"a field past the view", 9},
      {"a field of another width than the key field", 2},  // NAME into CODE
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    auto lookup = MakeRef<TLookup>(cities);
    lookup->AddFieldPart(c.PartField);
    lookup->AddResultField(2);
    const int32_t live = TZObject::LiveObjectCount();
    std::vector<Ref<TLookup>> lookups{lookup};
    lookup.Reset();
    EXPECT_THROW(View(Person, std::move(lookups)), EReaderSyntaxError);
    EXPECT_EQ(TZObject::LiveObjectCount(), live - 1);  // the lookup went with the view
    EXPECT_EQ(T->OpenViews(), 1);
  }
  cities.ReleaseLast();
}

}  // namespace
}  // namespace kor
