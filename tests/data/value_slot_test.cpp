// Attribute values in their slots: every kind reads back the same whether it came with the store
// (arena) or was set later (heap), through changes, undo and saves; slot order is value order.
#include "test_model.h"

#include "data/value_slot.h"

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

using data::Blob;
using data::Object;
using data::Value;
using foundation::Date;
using foundation::Decimal;
using foundation::NotificationCenter;
using testmodel::entity;
using testmodel::TempDir;
using namespace std::string_literals;

namespace {

const Date when = Date(std::chrono::microseconds(1'700'000'000'123'456));
const std::string longText = "a text longer than any short-string buffer, with a \0 inside"s;

void fill(Object& note, const std::string& text, Decimal amount, double weight, const Blob& bytes)
{
    note.setValue("text", text);
    note.setValue("when", when);
    note.setValue("amount", amount);
    note.setValue("weight", weight);
    note.setValue("bytes", bytes);
}

void expectValues(const Object& note, const std::string& text, Decimal amount, double weight, const Blob& bytes)
{
    EXPECT_EQ(note.value("text"), Value(text));
    EXPECT_EQ(note.typedValue<std::string_view>(0), std::string_view(text));
    EXPECT_EQ(note.typedValue<std::string>(0), text);
    EXPECT_EQ(note.typedValue<Date>(1), when);
    EXPECT_EQ(note.typedValue<Decimal>(2), amount);
    EXPECT_EQ(note.typedValue<double>(3), weight);
    EXPECT_EQ(note.typedValue<Blob>(4), bytes);
    EXPECT_EQ(note.value("bytes"), Value(bytes));
}

} // namespace

TEST(StoredValues, EveryKindReadsBackFromTheStoreAndAfterChangesAndUndo)
{
    TempDir dir;
    const auto path = dir.path() / "Store.db";
    NotificationCenter center;
    const Blob bytes{0, 1, 255, 128};
    std::string uri;
    {
        auto context = testmodel::openContext(path, center);
        Object* note = context->insertObject(entity("Note"));
        fill(*note, longText, *Decimal::parse("12.345"), 0.25, bytes);
        Object* empty = context->insertObject(entity("Note"));
        empty->setValue("text", std::string());
        uri = note->uriRepresentation();
        ASSERT_TRUE(context->save().isOk());
    }
    auto context = testmodel::openContext(path, center);
    Object* note = context->objectWithURI(uri);
    ASSERT_NE(note, nullptr);
    expectValues(*note, longText, *Decimal::parse("12.345"), 0.25, bytes);

    // The wrong kind or an absent value reads as nothing; the empty text is a value.
    EXPECT_FALSE(note->typedValue<std::int64_t>(0));
    EXPECT_FALSE(note->typedValue<std::string_view>(1));
    EXPECT_FALSE(note->typedValue<bool>(3));
    const auto notes = context->fetch(entity("Note"));
    ASSERT_EQ(notes.size(), 2u);
    Object* empty = notes[0] == note ? notes[1] : notes[0];
    EXPECT_TRUE(empty->hasValue(0));
    EXPECT_EQ(empty->typedValue<std::string_view>(0), std::string_view());
    EXPECT_FALSE(empty->hasValue(1));
    EXPECT_FALSE(empty->typedValue<Date>(1));
    EXPECT_TRUE(data::isAbsent(empty->value("amount")));

    // Loaded values replaced, replaced again, removed, then brought back by undo.
    context->processPendingChanges();
    fill(*note, "short", Decimal(7), -1.5, Blob{9});
    context->processPendingChanges();
    fill(*note, longText + longText, *Decimal::parse("-0.001"), 1e300, Blob(1000, 7));
    context->processPendingChanges();
    for (const char* key : {"text", "when", "amount", "weight", "bytes"})
        note->setValue(key, std::monostate{});
    context->processPendingChanges();
    for (int a = 0; a < 5; ++a)
        EXPECT_FALSE(note->hasValue(a)) << a;
    context->undoManager().undo();
    expectValues(*note, longText + longText, *Decimal::parse("-0.001"), 1e300, Blob(1000, 7));
    context->undoManager().undo();
    context->undoManager().undo();
    expectValues(*note, longText, *Decimal::parse("12.345"), 0.25, bytes);
    context->undoManager().redo();
    expectValues(*note, "short", Decimal(7), -1.5, Blob{9});
    ASSERT_TRUE(context->save().isOk());

    // A copy writes every value from its slot, whichever memory holds it.
    note->setValue("text", longText);
    ASSERT_TRUE(context->writeCopy(dir.path() / "Copy.db", false).isOk());
    context.reset();
    auto copy = testmodel::openContext(dir.path() / "Copy.db", center);
    expectValues(*copy->objectWithURI(uri), longText, Decimal(7), -1.5, Blob{9});
    EXPECT_EQ(copy->fetch(entity("Note")).size(), 2u);
    auto saved = testmodel::openContext(path, center);
    expectValues(*saved->objectWithURI(uri), "short", Decimal(7), -1.5, Blob{9});
}

TEST(StoredValues, AttributesOrderAsTheirValuesDo)
{
    NotificationCenter center;
    data::ObjectContext context(testmodel::model(), center);
    // Per attribute of a note, values that order in every way against each other, absent included.
    const std::vector<std::vector<Value>> candidates = {
        {std::monostate{}, ""s, "a"s, "ab"s, "b"s, "\xff"s, "a\0b"s, "B"s},
        {std::monostate{}, Date(std::chrono::microseconds(-5)), when, Date(std::chrono::microseconds(0))},
        {std::monostate{}, *Decimal::parse("1.50"), Decimal(1), *Decimal::parse("-0.5"), *Decimal::parse("1.5")},
        {std::monostate{}, -0.0, 0.0, -2.5, 1e-300, 3.0},
        {std::monostate{}, Blob{}, Blob{0}, Blob{0, 1}, Blob{255}, Blob{1}},
    };
    for (int a = 0; a < static_cast<int>(candidates.size()); ++a) {
        std::vector<Object*> notes;
        for (const Value& value : candidates[static_cast<std::size_t>(a)]) {
            notes.push_back(context.insertObject(entity("Note")));
            notes.back()->setValue(a, value);
        }
        for (const Object* left : notes)
            for (const Object* right : notes) {
                const int expected = data::compareValues(left->value(a), right->value(a));
                const int order = data::compareAttributeValues(*left, *right, a);
                EXPECT_EQ((order > 0) - (order < 0), expected)
                    << "attribute " << a << ": " << left->primaryKey() << " vs " << right->primaryKey();
            }
    }
}

TEST(StoredValues, AnEntityWithMoreAttributesThanPresenceBitsIsRefused)
{
    std::vector<data::AttributeDescription> attributes;
    for (int a = 0; a <= data::EntityDescription::maxAttributes; ++a)
        attributes.push_back({"a" + std::to_string(a), data::AttributeType::integer, std::monostate{}});
    EXPECT_THROW(data::EntityDescription("Wide", attributes, {}), std::logic_error);
    attributes.pop_back();
    EXPECT_NO_THROW(data::EntityDescription("Wide", attributes, {}));
}

TEST(StoredValues, SortingBySlotsMatchesSortingByValues)
{
    NotificationCenter center;
    data::ObjectContext context(testmodel::model(), center);
    std::mt19937 random(7);
    std::vector<Object*> notes;
    for (int i = 0; i < 300; ++i) {
        Object* note = context.insertObject(entity("Note"));
        // Few distinct values, absent ones among them, so ties reach the later keys and the key.
        if (random() % 5 != 0)
            note->setValue("when", Date(std::chrono::microseconds(static_cast<std::int64_t>(random() % 7) - 3)));
        if (random() % 4 != 0)
            note->setValue("text", std::string(1, static_cast<char>('a' + random() % 3)));
        notes.push_back(note);
    }
    std::shuffle(notes.begin(), notes.end(), random);
    // when (a date: read once per object), text (compared in place), in every direction.
    for (const auto& keys : std::vector<std::vector<std::pair<int, bool>>>{{{1, true}, {0, true}},
                                                                           {{1, false}, {0, true}},
                                                                           {{1, true}, {0, false}},
                                                                           {{0, false}, {1, true}},
                                                                           {}}) {
        std::vector<Object*> expected = notes;
        std::sort(expected.begin(), expected.end(), [&](const Object* a, const Object* b) {
            for (const auto& [index, ascending] : keys) {
                const int order = data::compareValues(a->value(index), b->value(index));
                if (order != 0)
                    return ascending ? order < 0 : order > 0;
            }
            return a->primaryKey() < b->primaryKey();
        });
        std::vector<Object*> sorted = notes;
        data::sortByAttributes(sorted, keys);
        EXPECT_EQ(sorted, expected) << keys.size() << " keys";
    }
}
