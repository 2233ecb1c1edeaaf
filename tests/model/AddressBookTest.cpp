#include "model/AddressBook.h"
#include "model/Error.h"
#include "model/PosTable.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <unordered_map>
#include <variant>

namespace {

// Counts destructions so that ownership can be checked.
int gDestroyed = 0;
struct TCountedContact : TContact {
    ~TCountedContact() override { ++gDestroyed; }
};
struct TCountedGroup : TGroup {
    using TGroup::TGroup;
    ~TCountedGroup() override { ++gDestroyed; }
};
struct TCountedSpecialGroup : TSpecialGroup {
    using TSpecialGroup::TSpecialGroup;
    ~TCountedSpecialGroup() override { ++gDestroyed; }
};

TContact* NewContact(const std::string& name, int id = 0)
{
    auto* c = new TCountedContact;
    c->SetName(name);
    c->SetContactId(id);
    return c;
}


class AddressBookTest : public ::testing::Test {
protected:
    void SetUp() override { gDestroyed = 0; }
};

} // namespace

TEST_F(AddressBookTest, IdentifiersAreHandedOutFromTheLargest)
{
    TContactList list(true);
    TContact* a = NewContact("a");
    TContact* b = NewContact("b");
    TContact* c = NewContact("c", 7);
    TContact* d = NewContact("d");
    list.Add(a);
    list.Add(b);
    list.Add(c);
    list.Add(d);
    EXPECT_EQ(a->ContactId(), 1);
    EXPECT_EQ(b->ContactId(), 2);
    EXPECT_EQ(c->ContactId(), 7);
    EXPECT_EQ(d->ContactId(), 8);
    // Negative means unassigned too; a gap stays a gap.
    TContact* e = NewContact("e", -5);
    list.Add(e);
    EXPECT_EQ(e->ContactId(), 9);
    // The largest id after a deletion counts from what is left.
    list.Remove(e);
    list.Remove(d);
    TContact* f = NewContact("f");
    list.Add(f);
    EXPECT_EQ(f->ContactId(), 8);
}

TEST_F(AddressBookTest, LargestPossibleIdDoesNotOverflow)
{
    TContactList list(true);
    list.Add(NewContact("top", INT_MAX));
    list.Add(NewContact("one", 1));
    TContact* next = NewContact("next");
    list.Add(next);
    EXPECT_EQ(next->ContactId(), 2);
    TContact* after = NewContact("after");
    list.Add(after);
    EXPECT_EQ(after->ContactId(), 3);
    // Ids given later are skipped; an id freed by a deletion is found again.
    list.Add(NewContact("given", 4));
    TContact* skips = NewContact("skips");
    list.Add(skips);
    EXPECT_EQ(skips->ContactId(), 5);
    list.Remove(next);
    TContact* again = NewContact("again");
    list.Add(again);
    EXPECT_EQ(again->ContactId(), 2);
    TContact* last = NewContact("last");
    list.Add(last);
    EXPECT_EQ(last->ContactId(), 6);
}

TEST_F(AddressBookTest, NamesAreTrimmedAndCompareWithoutCase)
{
    TContactList list(true);
    TContact* a = NewContact(U(" \tИван Петров\r\n "));
    list.Add(a);
    EXPECT_EQ(a->Name(), U("Иван Петров"));

    std::unique_ptr<TContact> dup(NewContact(U("  иВАН пЕТРОВ")));
    EXPECT_EQ(ErrorOf([&] { list.Add(dup.get()); }), U("Уже существует абонент с таким именем."));
    EXPECT_EQ(dup->Name(), U("иВАН пЕТРОВ")); // the trim stays after the failure
    EXPECT_EQ(dup->ContactId(), 0);
    EXPECT_FALSE(list.Add(dup.get(), true)); // quiet: skipped, still ours
    EXPECT_EQ(list.Count(), 1);

    std::unique_ptr<TContact> yo(NewContact(U("ёлка")));
    list.Add(NewContact(U("ЁЛКА")));
    EXPECT_FALSE(list.Add(yo.get(), true));
    std::unique_ptr<TContact> latin(NewContact("Abc"));
    list.Add(NewContact("aBC"));
    EXPECT_EQ(ErrorOf([&] { list.Add(latin.get()); }), U("Уже существует абонент с таким именем."));
}

TEST_F(AddressBookTest, MissingNameFailsEvenInQuietMode)
{
    TContactList contacts(false);
    TGroupList groups(false);
    TSmsSenderList senders(false);
    TContact c;
    c.SetName(" \t\r\n");
    TGroup g;
    TSmsSenderPlaceholder s;
    EXPECT_EQ(ErrorOf([&] { contacts.Add(&c, true); }), U("Не указано имя абонента."));
    EXPECT_EQ(c.Name(), "");
    EXPECT_EQ(ErrorOf([&] { groups.Add(&g, true); }), U("Не указано имя группы."));
    EXPECT_EQ(ErrorOf([&] { senders.Add(&s); }), U("Не указано имя оператора."));
    EXPECT_EQ(contacts.Count() + groups.Count() + senders.Count(), 0);
    EXPECT_EQ(c.ContactId(), 0);
}

TEST_F(AddressBookTest, EachListHasItsOwnMessages)
{
    TGroupList groups(true);
    auto* g = new TGroup;
    g->SetName("G");
    groups.Add(g);
    TGroup sameName, sameId;
    sameName.SetName("g");
    sameId.SetName("H");
    sameId.SetGroupId(g->GroupId());
    EXPECT_EQ(ErrorOf([&] { groups.Add(&sameName); }), U("Уже существует группа с таким именем."));
    EXPECT_EQ(ErrorOf([&] { groups.Add(&sameId); }), U("Уже существует группа с таким ID."));

    TSmsSenderList senders(true);
    auto* s = new TSmsSenderPlaceholder("MTS");
    senders.Add(s);
    TSmsSenderPlaceholder sName("mts"), sId("Beeline");
    sId.SetSenderId(s->SenderId());
    EXPECT_EQ(ErrorOf([&] { senders.Add(&sName); }), U("Уже существует оператор с таким именем."));
    EXPECT_EQ(ErrorOf([&] { senders.Add(&sId); }), U("Уже существует оператор с таким ID."));

    TContactList contacts(true);
    contacts.Add(NewContact("x", 4));
    TContact cId;
    cId.SetName("y");
    cId.SetContactId(4);
    EXPECT_EQ(ErrorOf([&] { contacts.Add(&cId); }), U("Уже существует абонент с таким ID."));
}

TEST_F(AddressBookTest, TheClashNearestTheEndDecidesTheError)
{
    TContactList list(true);
    list.Add(NewContact("first", 1));
    list.Add(NewContact("second", 2));
    TContact x;
    x.SetName("first");
    x.SetContactId(2);
    // "second" (id clash) is met before "first" (name clash) scanning from the end.
    EXPECT_EQ(ErrorOf([&] { list.Add(&x); }), U("Уже существует абонент с таким ID."));
    x.SetName("second");
    x.SetContactId(1);
    EXPECT_EQ(ErrorOf([&] { list.Add(&x); }), U("Уже существует абонент с таким именем."));
    // Name and id clashing with the same item: the name is checked first.
    x.SetContactId(2);
    EXPECT_EQ(ErrorOf([&] { list.Add(&x); }), U("Уже существует абонент с таким именем."));
}

TEST_F(AddressBookTest, TheSameObjectTwiceIsSilentlyKept)
{
    TContactList list(true);
    TContact* a = NewContact("a");
    EXPECT_TRUE(list.Add(a));
    a->SetName("  a  "); // even a name that would now need trimming
    EXPECT_TRUE(list.Add(a, false));
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(a->Name(), "  a  ");
}

TEST_F(AddressBookTest, IndexOfNameScansFromTheEndWithoutTrimming)
{
    TContactList list(true);
    TContact* a = NewContact(U("Мария"));
    TContact* b = NewContact(U("Олег"));
    list.Add(a);
    list.Add(b);
    EXPECT_EQ(list.IndexOfName(U("МАРИЯ")), 0);
    EXPECT_EQ(list.IndexOfName(U("олег")), 1);
    EXPECT_EQ(list.IndexOfName(U(" олег")), -1);
    EXPECT_EQ(list.IndexOfName(""), -1);
    EXPECT_EQ(list.IndexOf(b), 1);
    // After renames the list may hold two equal names: the later one is found.
    a->SetName(U("ОЛЕГ"));
    EXPECT_EQ(list.IndexOfName(U("олег")), 1);
    list.Delete(1);
    EXPECT_EQ(list.IndexOfName(U("олег")), 0);
    EXPECT_EQ(list.IndexOfName(U("Мария")), -1);
}

TEST_F(AddressBookTest, RenamesAndRenumberingThroughSettersKeepEveryListCurrent)
{
    TContactList master(true);
    TContactList group(false);
    TContact* a = NewContact("alpha");
    master.Add(a);
    group.Add(a);
    ASSERT_EQ(group.IndexOfName("alpha"), 0);

    a->SetName("beta");
    EXPECT_EQ(master.IndexOfName("alpha"), -1);
    EXPECT_EQ(group.IndexOfName("BETA"), 0);
    TContact freshAlpha;
    freshAlpha.SetName("alpha");
    EXPECT_TRUE(group.Add(&freshAlpha)); // the old name is free again
    group.Extract(&freshAlpha);
    TContact freshBeta;
    freshBeta.SetName("beta");
    EXPECT_EQ(ErrorOf([&] { group.Add(&freshBeta); }), U("Уже существует абонент с таким именем."));

    a->SetContactId(50);
    TContact next;
    next.SetName("next");
    master.Add(&next);
    EXPECT_EQ(next.ContactId(), 51);
    master.Extract(&next);
    TContact clash;
    clash.SetName("other");
    clash.SetContactId(50);
    EXPECT_EQ(ErrorOf([&] { group.Add(&clash); }), U("Уже существует абонент с таким ID."));

    // A copy is a new object, outside every list.
    TContact copy = *a;
    EXPECT_EQ(master.IndexOf(&copy), -1);
    EXPECT_EQ(ErrorOf([&] { master.Add(&copy); }), U("Уже существует абонент с таким именем."));
    // Assigning into a listed object is a rename.
    TContact source;
    source.SetName("gamma");
    source.SetContactId(60);
    *a = source;
    EXPECT_EQ(master.IndexOfName("gamma"), 0);
    EXPECT_EQ(group.IndexOfName("beta"), -1);
}

TEST_F(AddressBookTest, OwningListsDestroyNonOwningListsForget)
{
    {
        TContactList owner(true);
        TContactList refs(false);
        TContact* a = NewContact("a");
        TContact* b = NewContact("b");
        TContact* c = NewContact("c");
        TContact* d = NewContact("d");
        for (TContact* x : {a, b, c, d}) {
            owner.Add(x);
            refs.Add(x);
        }
        refs.Delete(0);
        refs.Remove(b);
        refs.Clear();
        EXPECT_EQ(gDestroyed, 0);
        EXPECT_EQ(owner.Count(), 4);

        owner.Delete(0);
        EXPECT_EQ(gDestroyed, 1);
        EXPECT_EQ(owner.Remove(b), 0);
        EXPECT_EQ(gDestroyed, 2);
        EXPECT_EQ(owner.Remove(b), -1); // already gone: nothing happens
        EXPECT_EQ(owner.Extract(c), c);
        EXPECT_EQ(gDestroyed, 2);
        delete c;
        EXPECT_EQ(owner.Count(), 1);
        EXPECT_EQ(owner.Items(0), d);
    }
    EXPECT_EQ(gDestroyed, 4); // d went with the owning list

    gDestroyed = 0;
    {
        TContactList owner(true);
        owner.Add(NewContact("x"));
        owner.Add(NewContact("y"));
        owner.Clear();
        EXPECT_EQ(gDestroyed, 2);
        EXPECT_EQ(owner.Count(), 0);
    }
}

TEST_F(AddressBookTest, IndexOutsideTheListRaisesAndChangesNothing)
{
    TContactList list(true);
    list.Add(NewContact("a"));
    EXPECT_THROW(list.Items(1), TError);
    EXPECT_THROW(list.Items(-1), TError);
    EXPECT_THROW(list.Delete(1), TError);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(gDestroyed, 0);
}

TEST_F(AddressBookTest, GroupsOwnTheirMembersOnlyWhenBuiltSo)
{
    TContact* a = NewContact("a");
    {
        TCountedGroup ordinary(false);
        ordinary.SetName("friends");
        ordinary.Contacts.Add(a);
    }
    EXPECT_EQ(gDestroyed, 1); // the group itself only
    {
        TCountedSpecialGroup all(true);
        all.Contacts.Add(a);
        EXPECT_EQ(all.ClassName(), "TSpecialGroup");
    }
    EXPECT_EQ(gDestroyed, 3); // the group and its member
}

TEST_F(AddressBookTest, ClearNonSpecialKeepsTheBuiltInGroupsInOrder)
{
    TGroupList groups(true);
    auto add = [&](TGroup* g, const std::string& name) {
        g->SetName(name);
        groups.Add(g);
        return g;
    };
    add(new TCountedGroup, "one");
    TGroup* all = add(new TCountedSpecialGroup(true), "all");
    add(new TCountedGroup, "two");
    TGroup* found = add(new TCountedSpecialGroup, "found");
    add(new TCountedGroup, "three");
    TContact* member = NewContact("member");
    all->Contacts.Add(member);
    groups.Items(0)->Contacts.Add(member);

    groups.ClearNonSpecial();
    ASSERT_EQ(groups.Count(), 2);
    EXPECT_EQ(groups.Items(0), all);
    EXPECT_EQ(groups.Items(1), found);
    EXPECT_EQ(gDestroyed, 3);
    EXPECT_EQ(all->Contacts.Items(0), member); // members survive
    EXPECT_EQ(groups.IndexOfName("two"), -1);
    EXPECT_EQ(groups.Items(0)->ClassName(), "TSpecialGroup");
}

TEST_F(AddressBookTest, ContactSetHoldsEachContactOnce)
{
    TContact* a = NewContact("a");
    TContact* b = NewContact("b");
    TContact* c = NewContact("c");
    TContactList master(true);
    for (TContact* x : {a, b, c})
        master.Add(x);
    TGroup g1, g2;
    g1.Contacts.Add(a);
    g1.Contacts.Add(b);
    g2.Contacts.Add(b);
    g2.Contacts.Add(c);

    TContactSet set;
    set.AddGroup(&g1);
    set.AddGroup(&g2);
    set.AddContact(b);
    ASSERT_EQ(set.Count(), 3);
    // Each group goes from its last member to its first.
    EXPECT_EQ(set.Items(0), b);
    EXPECT_EQ(set.Items(1), a);
    EXPECT_EQ(set.Items(2), c);
    EXPECT_FALSE(set.OwnsItems());

    // A different contact with a name already present is skipped quietly.
    TContact twin;
    twin.SetName("A");
    EXPECT_FALSE(set.AddContact(&twin));
    EXPECT_EQ(set.Count(), 3);
}

TEST_F(AddressBookTest, ContactCaption)
{
    TContact c;
    c.SetName(U("Иван"));
    c.PhoneNumber = "+7 (901) 000";
    EXPECT_EQ(ContactCaption(c), U("Иван (+7 (901) 000)"));
    EXPECT_EQ(ContactCaption(nullptr), "");
    EXPECT_EQ(c.ClassName(), "TContact");
}

// Random appends, failed appends, renames, re-numberings and deletions on two
// lists that share items, each checked against a literal backward scan.
TEST_F(AddressBookTest, RandomOperationsMatchALiteralScan)
{
    struct TAdded {
        int id;
    };
    struct TSkipped {};
    struct TFailed {
        std::string message;
    };
    using TOutcome = std::variant<TAdded, TSkipped, TFailed>;

    auto predict = [](const TContactList& list, const TContact& x, bool quiet) -> TOutcome {
        for (const TContact* y : list)
            if (y == &x)
                return TAdded {x.ContactId()};
        std::string name = Trim(x.Name());
        if (name.empty())
            return TFailed {U("Не указано имя абонента.")};
        int maxId = 0;
        for (int i = list.Count() - 1; i >= 0; --i) {
            const TContact* y = list.Items(i);
            if (SameText(y->Name(), name))
                return quiet ? TOutcome(TSkipped {}) : TFailed {U("Уже существует абонент с таким именем.")};
            if (x.ContactId() >= 1 && y->ContactId() == x.ContactId())
                return quiet ? TOutcome(TSkipped {}) : TFailed {U("Уже существует абонент с таким ID.")};
            maxId = std::max(maxId, y->ContactId());
        }
        return TAdded {x.ContactId() >= 1 ? x.ContactId() : maxId + 1};
    };
    auto scanName = [](const TContactList& list, const std::string& name) {
        for (int i = list.Count() - 1; i >= 0; --i)
            if (SameText(list.Items(i)->Name(), name))
                return i;
        return -1;
    };

    const std::vector<std::string> names = {
        U("Иван"), U("иван"), U(" ИВАН "), U("Ёж"), U("ёж"), "ivan", "IVAN", "\tPetr\r\n", "petr", "", "  ", "x",
    };
    std::mt19937 rng(2024);
    std::vector<std::unique_ptr<TContact>> pool; // every contact made; the lists only refer
    TContactList lists[2] = {TContactList(false), TContactList(false)};
    for (int step = 0; step < 4000; ++step) {
        TContactList& list = lists[rng() % 2];
        int op = static_cast<int>(rng() % 10);
        if (op < 5 || pool.empty()) {
            // Append: a new contact or one from the pool (perhaps in the other list).
            TContact* x;
            if (pool.empty() || rng() % 2) {
                pool.push_back(std::make_unique<TContact>());
                x = pool.back().get();
                x->SetName(names[rng() % names.size()]);
                x->SetContactId(static_cast<int>(rng() % 8) - 2);
            } else {
                x = pool[rng() % pool.size()].get();
            }
            bool quiet = rng() % 2;
            TOutcome expected = predict(list, *x, quiet);
            int countBefore = list.Count();
            bool wasIn = std::find(list.begin(), list.end(), x) != list.end();
            std::string error;
            bool result = false;
            try {
                result = list.Add(x, quiet);
            } catch (const TError& e) {
                error = e.message();
            }
            if (auto* added = std::get_if<TAdded>(&expected)) {
                ASSERT_EQ(error, "") << "step " << step;
                ASSERT_TRUE(result);
                ASSERT_EQ(x->ContactId(), added->id) << "step " << step;
                ASSERT_EQ(list.Count(), countBefore + (wasIn ? 0 : 1));
                if (!wasIn) {
                    ASSERT_EQ(list.Items(list.Count() - 1), x);
                }
            } else if (std::holds_alternative<TSkipped>(expected)) {
                ASSERT_EQ(error, "") << "step " << step;
                ASSERT_FALSE(result);
                ASSERT_EQ(list.Count(), countBefore);
            } else {
                ASSERT_EQ(error, std::get<TFailed>(expected).message) << "step " << step;
                ASSERT_EQ(list.Count(), countBefore);
            }
        } else if (op < 7) {
            // Rename or re-number an item of the list behind its back.
            if (list.Count() == 0)
                continue;
            TContact* y = list.Items(static_cast<int>(rng() % list.Count()));
            if (rng() % 2)
                y->SetName(names[rng() % names.size()]);
            else
                y->SetContactId(static_cast<int>(rng() % 8));
        } else if (op < 9) {
            if (list.Count() == 0)
                continue;
            list.Delete(static_cast<int>(rng() % list.Count()));
        } else {
            const std::string& name = names[rng() % names.size()];
            ASSERT_EQ(list.IndexOfName(name), scanName(list, name)) << "step " << step;
            // The batch lookup gives what the single one does, name by name.
            const std::vector<std::string_view> batch(names.begin(), names.end());
            std::vector<int> positions;
            list.IndexesOfNames(batch, positions);
            ASSERT_EQ(positions.size(), names.size());
            for (size_t i = 0; i < names.size(); ++i)
                ASSERT_EQ(positions[i], scanName(list, names[i])) << "step " << step << ", name " << i;
        }
        for (const TContactList& l : lists)
            for (int i = 0; i < l.Count(); ++i)
                ASSERT_EQ(l.IndexOf(l.Items(i)), i);
    }
}

TEST_F(AddressBookTest, AppendsAloneNeverLeaveAClash)
{
    std::mt19937 rng(99);
    const std::vector<std::string> names = {"a", "A", " a", "b", U("Б"), U("б"), U("ё"), U("Ё"), "c"};
    std::vector<std::unique_ptr<TContact>> skipped;
    TContactList list(true);
    for (int step = 0; step < 2000; ++step) {
        auto x = std::make_unique<TContact>();
        x->SetName(names[rng() % names.size()] + IntToStr(rng() % 40));
        x->SetContactId(static_cast<int>(rng() % 60) - 5);
        try {
            if (list.Add(x.get(), rng() % 2))
                x.release();
        } catch (const TError&) {
        }
        if (x)
            skipped.push_back(std::move(x));
    }
    for (int i = 0; i < list.Count(); ++i) {
        EXPECT_GE(list.Items(i)->ContactId(), 1);
        for (int k = i + 1; k < list.Count(); ++k) {
            ASSERT_FALSE(SameText(list.Items(i)->Name(), list.Items(k)->Name()));
            ASSERT_NE(list.Items(i)->ContactId(), list.Items(k)->ContactId());
        }
    }
}

// Ids given out one after another share runs of neighbouring slots; whatever
// the keys (runs, strides that land in one home slot, random), every key finds
// the last position set for it and no other key finds anything.
TEST_F(AddressBookTest, PositionTableFindsWhatWasSetWhateverTheKeys)
{
    std::mt19937_64 rng(7);
    std::vector<std::vector<std::uint64_t>> keySets(3);
    for (std::uint64_t i = 1; i <= 5000; ++i)
        keySets[0].push_back(i);
    for (std::uint64_t i = 0; i < 3000; ++i)
        keySets[1].push_back(i << 16); // every key the start of a run
    for (int i = 0; i < 5000; ++i)
        keySets[2].push_back(rng() % 20000);
    for (const auto& keys : keySets) {
        TPosTable<6> table;
        std::unordered_map<std::uint64_t, int> expected;
        for (size_t i = 0; i < keys.size(); ++i) {
            table.Set(keys[i], static_cast<int>(i));
            expected[keys[i]] = static_cast<int>(i);
        }
        for (const auto& [key, pos] : expected)
            ASSERT_EQ(table.Find(key), pos) << key;
        for (std::uint64_t probe = 0; probe < 40000; probe += 7) {
            if (!expected.count(probe)) {
                ASSERT_EQ(table.Find(probe), -1) << probe;
            }
        }
        table.Clear();
        ASSERT_EQ(table.Find(keys.front()), -1);
    }
}
