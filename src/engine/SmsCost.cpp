#include "engine/SmsCost.h"

#include "engine/Charset.h"
#include "model/RecipientFields.h"
#include "model/SmsParts.h"
#include "model/Text.h"

#include <algorithm>
#include <array>
#include <map>
#include <tuple>
#include <unordered_map>

namespace {

// The characters the gateway receives for a piece in the operator's charset.
std::u16string Received(const std::string& piece, TCharset charset)
{
    if (charset == TCharset::Koi8R || charset == TCharset::Koi8U)
        return Cp1251ToUtf16(ConvertToCp1251(ConvertFromCp1251(piece, charset), charset));
    return Cp1251ToUtf16(piece); // the other charsets carry every CP1251 character
}

int Billed(const std::string& text, const TSmsSender* sender, const TTranslitTable& table, bool& ucs2, int& pieces)
{
    const std::string sent = sender && sender->TranslitFlag ? Translit(table, text) : text;
    const TCharset charset = CharsetFromName(sender ? sender->Charset : std::string());
    const std::vector<std::string> parts = SmsPieces(sent, sender ? sender->MaxSmsLen : 0);
    pieces = static_cast<int>(parts.size());
    int total = 0;
    for (const std::string& piece : parts) {
        const TSmsParts billed = CountSmsParts(Received(piece, charset));
        total += billed.Parts;
        ucs2 = ucs2 || billed.Ucs2;
    }
    return total;
}

// Recipients' values told apart only as far as the bill can tell them apart.
// Every step of the bill works byte by byte (transliteration, pieces cut by
// length, the charset, the GSM class of each character), so two bytes whose
// every step gives characters of the same classes cost the same anywhere:
// each byte of a value is replaced by the first byte of its kind, and values
// of one shape ("Анна", "Вера") are billed once.
class TValueShapes {
public:
    TValueShapes(const TSmsSender* sender, const TTranslitTable& table)
    {
        const TCharset charset = CharsetFromName(sender ? sender->Charset : std::string());
        const bool own = sender && sender->TranslitFlag;
        std::unordered_map<std::string, char> firstOfKind;
        for (int b = 0; b < 256; ++b) {
            const std::string one(1, static_cast<char>(b));
            const std::string first = own ? Translit(table, one) : one;              // as the operator sends it
            const std::string second = own ? Translit(table, table[b]) : table[b]; // transliterated first
            std::string kind;
            for (const std::string* sent : {&first, &second}) {
                for (char16_t c : Received(*sent, charset))
                    kind += static_cast<char>('0' + GsmSeptets(c));
                kind += '|';
            }
            kind += UncarriedPositions(one, sender, table).empty() ? 'c' : 'u';
            FShape[static_cast<size_t>(b)] = firstOfKind.try_emplace(kind, static_cast<char>(b)).first->second;
        }
    }
    std::string Of(const std::string& value) const
    {
        std::string shape = value;
        for (char& c : shape)
            c = FShape[static_cast<unsigned char>(c)];
        return shape;
    }

private:
    std::array<char, 256> FShape {};
};

} // namespace

TOperatorCost OperatorCost(const std::string& text, const TSmsSender* sender, const TTranslitTable& table)
{
    TOperatorCost cost;
    cost.Sender = sender;
    if (text.empty())
        return cost;
    cost.SmsEach = Billed(text, sender, table, cost.Ucs2, cost.Pieces);
    bool ucs2 = false;
    int pieces = 0;
    cost.SmsEachTranslit = Billed(Translit(table, text), sender, table, ucs2, pieces);
    cost.Uncarried = static_cast<int>(UncarriedPositions(text, sender, table).size());
    return cost;
}

std::vector<int> UncarriedPositions(const std::string& text, const TSmsSender* sender, const TTranslitTable& table)
{
    std::vector<int> positions;
    const TCharset charset = CharsetFromName(sender ? sender->Charset : std::string());
    if (charset != TCharset::Koi8R && charset != TCharset::Koi8U)
        return positions; // the other charsets carry every CP1251 character
    // Each byte value is judged once: through the operator's transliteration,
    // does the charset turn it into "_"?
    std::array<signed char, 256> lost {};
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (lost[c] == 0) {
            const std::string one(1, static_cast<char>(c));
            const std::string sent = sender && sender->TranslitFlag ? Translit(table, one) : one;
            const std::string wire = ConvertToCp1251(ConvertFromCp1251(sent, charset), charset);
            lost[c] = std::count(wire.begin(), wire.end(), '_') > std::count(sent.begin(), sent.end(), '_') ? 1 : -1;
        }
        if (lost[c] > 0)
            positions.push_back(static_cast<int>(i));
    }
    return positions;
}

TSmsCost ComputeSmsCost(const std::string& text, const TRecipientList& recipients, const TTranslitTable& table)
{
    TSmsCost cost;
    TContactSet set;
    FillRecipientSet(recipients, set);
    // With "{name}" or "{phone}" each recipient is billed for its own text, and
    // an operator's line shows the dearest of them.
    const bool fields = HasRecipientFields(text);
    std::unordered_map<const TSmsSender*, size_t> slot;
    std::unordered_map<const TSmsSender*, TValueShapes> shapes;
    std::map<std::tuple<const TSmsSender*, std::string, std::string>, TOperatorCost> billed;
    for (const TContact* contact : set) {
        if (!contact->SmsSender) {
            ++cost.NoOperator;
            continue;
        }
        auto [at, fresh] = slot.emplace(contact->SmsSender, cost.PerOperator.size());
        if (fresh && !fields)
            cost.PerOperator.push_back(OperatorCost(text, contact->SmsSender, table));
        if (fields) {
            const TValueShapes& shape = shapes.try_emplace(contact->SmsSender, contact->SmsSender, table).first->second;
            std::string name = shape.Of(contact->Name()), phone = shape.Of(contact->PhoneNumber);
            auto known = billed.find({contact->SmsSender, name, phone});
            if (known == billed.end()) {
                TOperatorCost cost = OperatorCost(ExpandRecipientFields(text, name, phone), contact->SmsSender, table);
                known = billed.emplace(std::tuple {contact->SmsSender, std::move(name), std::move(phone)}, cost).first;
            }
            const TOperatorCost& own = known->second;
            if (fresh)
                cost.PerOperator.push_back(own);
            TOperatorCost& op = cost.PerOperator[at->second];
            op.SmsEach = std::max(op.SmsEach, own.SmsEach);
            op.SmsEachTranslit = std::max(op.SmsEachTranslit, own.SmsEachTranslit);
            op.Pieces = std::max(op.Pieces, own.Pieces);
            op.Ucs2 = op.Ucs2 || own.Ucs2;
            op.Uncarried = std::max(op.Uncarried, own.Uncarried);
            op.Total += own.SmsEach;
            op.TotalTranslit += own.SmsEachTranslit;
            cost.Total += own.SmsEach;
            cost.TotalTranslit += own.SmsEachTranslit;
        } else {
            TOperatorCost& op = cost.PerOperator[at->second];
            op.Total += op.SmsEach;
            op.TotalTranslit += op.SmsEachTranslit;
            cost.Total += op.SmsEach;
            cost.TotalTranslit += op.SmsEachTranslit;
        }
        ++cost.PerOperator[at->second].Recipients;
        ++cost.Recipients;
    }
    if (set.Count() == 0) {
        cost.PerOperator.push_back(OperatorCost(text, nullptr, table));
        TOperatorCost& one = cost.PerOperator.back();
        one.Recipients = 1;
        one.Total = cost.Total = one.SmsEach;
        one.TotalTranslit = cost.TotalTranslit = one.SmsEachTranslit;
    }
    return cost;
}
