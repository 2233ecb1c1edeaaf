#include "model/AddressBook.h"
#include "model/RecipientFields.h"
#include "model/SmsQueue.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

TEST(RecipientFields, BothFieldsRepeatedAndAdjacent)
{
    const std::string name = U("Анна Петрова"), phone = "+7 (916) 123-45-67";
    EXPECT_EQ(ExpandRecipientFields(U("Привет, {name}!"), name, phone), U("Привет, Анна Петрова!"));
    EXPECT_EQ(ExpandRecipientFields(U("{name}, ваш номер {phone}. {name}!"), name, phone),
              U("Анна Петрова, ваш номер +7 (916) 123-45-67. Анна Петрова!"));
    EXPECT_EQ(ExpandRecipientFields("{name}{phone}{name}", "A", "1"), "A1A");
    EXPECT_EQ(ExpandRecipientFields("{phone}", "A", ""), "");
    EXPECT_TRUE(HasRecipientFields("x{phone}"));
    EXPECT_TRUE(HasRecipientFields("{name}"));
}

TEST(RecipientFields, OtherBracesAndCaseStayAsTyped)
{
    // Only the two lower-case fields are replaced; the gate's own macros such
    // as "{year}", unknown words, lone and nested braces pass through.
    for (const std::string& text : {U("Привет! С Новым {year} годом"), std::string("{x} { } {{ }} {"),
                                   std::string("{NAME} {Name} {PHONE} {name {phone"), std::string("}{name"),
                                   U("Без полей, ровно как было.\r\n")}) {
        EXPECT_FALSE(HasRecipientFields(text)) << text;
        EXPECT_EQ(ExpandRecipientFields(text, "A", "1"), text);
    }
    EXPECT_EQ(ExpandRecipientFields("{{name}}", "A", "1"), "{A}");
    EXPECT_EQ(ExpandRecipientFields("{name{phone}", "A", "1"), "{name1");
}

TEST(RecipientFields, ValuesAreNeverExpandedAgain)
{
    // A name that itself holds a field (or a brace) goes in literally.
    EXPECT_EQ(ExpandRecipientFields("Hi {name}, {phone}", "{phone} {name", "{name}"), "Hi {phone} {name, {name}");
    EXPECT_EQ(ExpandRecipientFields("{name}", "{", "phone}"), "{");
    EXPECT_EQ(ExpandRecipientFields("{name}phone}", "{", "1"), "{phone}");
}

TEST(RecipientFields, LongestExpansionOverContactsAndGroups)
{
    int id = 0;
    auto make = [&](const char* name, const char* phone) {
        auto c = std::make_unique<TContact>();
        c->SetContactId(++id); // the set tells contacts apart by id
        c->SetName(name);
        c->PhoneNumber = phone;
        return c;
    };
    auto a = make("Al", "1"), b = make("Bartholomew", "22"), c = make("C", "+7 916 000-00-00");
    TRecipientList recipients;
    EXPECT_EQ(LongestExpansionLength("Hi {name}!", recipients), 10u); // nobody yet: as typed
    recipients.Contacts.Add(a.get());
    EXPECT_EQ(LongestExpansionLength("Hi {name}!", recipients), 6u);
    TGroup group;
    group.SetName("g");
    group.Contacts.Add(b.get());
    group.Contacts.Add(c.get());
    recipients.Groups.Add(&group);
    EXPECT_EQ(LongestExpansionLength("Hi {name}!", recipients), 15u);                    // Bartholomew
    EXPECT_EQ(LongestExpansionLength("{phone}{phone}", recipients), 32u);               // C's phone twice
    EXPECT_EQ(LongestExpansionLength("{name} {phone}", recipients), std::string("C +7 916 000-00-00").size());
    EXPECT_EQ(LongestExpansionLength("no fields", recipients), 9u);
}
