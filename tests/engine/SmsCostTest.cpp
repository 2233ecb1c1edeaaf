// What a message costs: GSM part counting against a table of cases worked out
// by hand, and the operator's pieces, charset and transliteration on top.
#include "engine/SmsCost.h"
#include "engine/StdSmsSender.h"
#include "model/RecipientFields.h"
#include "model/SmsParts.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

namespace {

std::u16string Rep(char16_t c, int n) { return std::u16string(static_cast<size_t>(n), c); }

TEST(SmsPartsTest, BoundariesOfSevenBitAndUcs2Texts)
{
    const struct {
        std::u16string text;
        int parts;
        bool ucs2;
    } cases[] = {
        {u"", 0, false},
        {Rep(u'a', 160), 1, false},
        {Rep(u'a', 161), 2, false},
        {Rep(u'a', 306), 2, false},
        {Rep(u'a', 307), 3, false},
        {Rep(u'a', 158) + u"{", 1, false}, // 160 septets
        {Rep(u'a', 159) + u"{", 2, false}, // 161 septets
        // 306 septets would be two parts, but the escape pair of € cannot straddle the first boundary.
        {Rep(u'a', 152) + u"€" + Rep(u'a', 152), 3, false},
        {Rep(u'a', 151) + u"€" + Rep(u'a', 153), 2, false}, // the pair ends the first part exactly
        {u"a\r\nb@£$_ÄÖ¿", 1, false},                        // line breaks and the other default letters
        {u"`", 1, true},                                     // not in the GSM alphabet
        {Rep(u'я', 70), 1, true},
        {Rep(u'я', 71), 2, true},
        {Rep(u'я', 134), 2, true},
        {Rep(u'я', 135), 3, true},
        {Rep(u'a', 69) + u"я", 1, true},
        {Rep(u'a', 66) + u"😀" + Rep(u'a', 67), 3, true}, // a surrogate pair is never split
    };
    for (const auto& c : cases) {
        const TSmsParts parts = CountSmsParts(c.text);
        EXPECT_EQ(parts.Parts, c.parts) << c.text.size();
        EXPECT_EQ(parts.Ucs2, c.ucs2) << c.text.size();
    }
}

TEST(SmsCostTest, PiecesWithHeadersCharsetsAndTransliteration)
{
    ResetTranslitTable();
    TStdSmsSender op;
    op.SetName("Op");
    op.MaxSmsLen = 160;
    op.Charset = "CP1251";
    // 161 letters: two pieces here ("1 iz 2) " + 150, "2 iz 2) " + 11), billed
    // as UCS-2 158 characters = 3 SMS and 19 = 1; transliterated, two 7-bit SMS.
    std::string cyrillic;
    for (int i = 0; i < 161; ++i)
        cyrillic += U("д");
    TOperatorCost cost = OperatorCost(cyrillic, &op, TranslitTable());
    EXPECT_EQ(cost.Pieces, 2);
    EXPECT_EQ(cost.SmsEach, 4);
    EXPECT_TRUE(cost.Ucs2);
    EXPECT_EQ(cost.SmsEachTranslit, 2);
    // The operator transliterates by itself: already cheap.
    op.TranslitFlag = true;
    EXPECT_EQ(OperatorCost(cyrillic, &op, TranslitTable()).SmsEach, 2);

    // KOI8-R cannot carry a Ukrainian letter or «»; KOI8-U carries the letter.
    op.TranslitFlag = false;
    op.MaxSmsLen = 0;
    op.Charset = "KOI8-R";
    const std::string ukrainian = U("Їжак «ok»");
    EXPECT_EQ(UncarriedPositions(ukrainian, &op, TranslitTable()), (std::vector<int> {0, 5, 8}));
    EXPECT_EQ(OperatorCost(ukrainian, &op, TranslitTable()).Uncarried, 3);
    op.Charset = "KOI8-U";
    EXPECT_EQ(UncarriedPositions(ukrainian, &op, TranslitTable()), (std::vector<int> {5, 8}));
    op.Charset = "UTF-8";
    EXPECT_TRUE(UncarriedPositions(ukrainian, &op, TranslitTable()).empty());
}

TEST(SmsCostTest, TotalCountsEachContactOnceAndOperatorsOnce)
{
    ResetTranslitTable();
    TStdSmsSender cheap, dear;
    cheap.SetName("Cheap");
    cheap.TranslitFlag = true;
    dear.SetName("Dear");
    TContact a, b, c, none;
    a.SetName("a");
    a.SmsSender = &cheap;
    b.SetName("b");
    b.SmsSender = &dear;
    c.SetName("c");
    c.SmsSender = &dear;
    none.SetName("none");
    int id = 0;
    for (TContact* contact : {&a, &b, &c, &none})
        contact->SetContactId(++id);
    TGroup group;
    group.SetName("g");
    group.Contacts.Add(&b);
    group.Contacts.Add(&c);
    group.Contacts.Add(&none);
    TRecipientList recipients;
    recipients.Contacts.Add(&a);
    recipients.Contacts.Add(&b); // also in the group: counted once
    recipients.Groups.Add(&group);
    std::string text;
    for (int i = 0; i < 71; ++i)
        text += U("ж");
    const TSmsCost cost = ComputeSmsCost(text, recipients, TranslitTable());
    EXPECT_EQ(cost.Recipients, 3);
    EXPECT_EQ(cost.NoOperator, 1);
    ASSERT_EQ(cost.PerOperator.size(), 2u);
    EXPECT_EQ(cost.Total, 1 + 2 * 2);         // "zh" x 71 is 142 septets: one SMS; 71 UCS-2: two
    EXPECT_EQ(cost.TotalTranslit, 1 + 2 * 1);
    // Nobody picked: one recipient by the default rules.
    const TSmsCost alone = ComputeSmsCost(text, TRecipientList(), TranslitTable());
    EXPECT_EQ(alone.Total, 2);
    EXPECT_EQ(alone.Recipients, 0);
}

} // namespace

TEST(SmsCostTest, EachRecipientIsBilledForItsOwnExpandedText)
{
    ResetTranslitTable();
    TStdSmsSender op;
    op.SetName("Op");
    op.MaxSmsLen = 0;
    TContact shortName, longName, other;
    shortName.SetName("Al");
    longName.SetName(std::string(20, 'B'));
    other.SetName("Cy");
    other.PhoneNumber = std::string(30, '9');
    int id = 0;
    for (TContact* contact : {&shortName, &longName, &other}) {
        contact->SmsSender = &op;
        contact->SetContactId(++id);
    }
    TRecipientList recipients;
    recipients.Contacts.Add(&shortName);
    recipients.Contacts.Add(&longName);
    // 150 Latin letters and the name: 152 characters for Al (one SMS), 170 for
    // the long name (two).
    const std::string text = std::string(150, 'x') + "{name}";
    TSmsCost cost = ComputeSmsCost(text, recipients, TranslitTable());
    EXPECT_EQ(cost.Recipients, 2);
    EXPECT_EQ(cost.Total, 1 + 2);
    EXPECT_EQ(cost.TotalTranslit, 1 + 2);
    ASSERT_EQ(cost.PerOperator.size(), 1u);
    EXPECT_EQ(cost.PerOperator[0].SmsEach, 2); // the longest
    // A Cyrillic name turns only its own message into UCS-2.
    other.SetName(U("Юля"));
    recipients.Contacts.Add(&other);
    cost = ComputeSmsCost(std::string(60, 'x') + "{name}", recipients, TranslitTable());
    EXPECT_EQ(cost.Total, 1 + 1 + 1);
    EXPECT_TRUE(cost.PerOperator[0].Ucs2);
    cost = ComputeSmsCost(std::string(80, 'x') + "{name} {phone}", recipients, TranslitTable());
    EXPECT_EQ(cost.Total, 1 + 1 + 2); // Юля: 80 + 3 + 1 + 30 = 114 UCS-2 characters
    EXPECT_EQ(cost.TotalTranslit, 3);
}

// Recipients whose values bill alike are billed once: the total must still be
// what each one's own text costs, whatever the names hold.
TEST(SmsCostTest, ManyRecipientsCostWhatTheirOwnTextsCost)
{
    ResetTranslitTable();
    TStdSmsSender koi, utf, lat;
    koi.Charset = "KOI8-R";
    koi.MaxSmsLen = 70;
    utf.Charset = "UTF-8";
    lat.TranslitFlag = true;
    lat.MaxSmsLen = 160;
    const std::vector<std::string> names {U("Анна"), U("Вера"), U("Жанна"), U("Щука"), U("Їжак"), "Al", "A{b}",
                                          U("€uro"), U("Юлия-Мария"), U("ы"), U("Ёж «Ё»"), "zz", "Z^"};
    const std::vector<std::string> phones {"+7 (916) 123-45-67", "89161234567", U("€"), ""};
    std::vector<std::unique_ptr<TContact>> contacts;
    for (size_t i = 0; i < names.size() * phones.size(); ++i) {
        auto c = std::make_unique<TContact>();
        c->SetContactId(static_cast<int>(i) + 1);
        const size_t round = i / names.size();
        c->SetName(names[i % names.size()] + (round > 0 ? std::to_string(round) : "")); // names are unique
        c->PhoneNumber = phones[i / names.size()];
        contacts.push_back(std::move(c));
    }
    for (const std::string& text : {std::string(140, 'x') + "{name} {phone}", U("Привет, {name}! Ваш {phone}"),
                                    std::string(60, 'x') + "{phone}{name}"}) {
        for (TStdSmsSender* op : {&koi, &utf, &lat}) {
            TRecipientList all;
            int total = 0, totalTranslit = 0, dearest = 0, uncarried = 0;
            for (const auto& c : contacts) {
                c->SmsSender = op;
                all.Contacts.Add(c.get());
                const TOperatorCost own = OperatorCost(ExpandRecipientFields(text, *c), op, TranslitTable());
                total += own.SmsEach;
                totalTranslit += own.SmsEachTranslit;
                dearest = std::max(dearest, own.SmsEach);
                uncarried = std::max(uncarried, own.Uncarried);
            }
            const TSmsCost cost = ComputeSmsCost(text, all, TranslitTable());
            EXPECT_EQ(cost.Total, total) << op->Charset << " " << text;
            EXPECT_EQ(cost.TotalTranslit, totalTranslit) << op->Charset << " " << text;
            ASSERT_EQ(cost.PerOperator.size(), 1u);
            EXPECT_EQ(cost.PerOperator[0].SmsEach, dearest);
            EXPECT_EQ(cost.PerOperator[0].Uncarried, uncarried);
        }
    }
}
