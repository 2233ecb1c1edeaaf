#include "model/AddressBook.h"

#include "model/Clock.h"
#include "model/DeliveryCancel.h"
#include "model/Text.h"

std::string ContactCaption(const TContact& contact) { return contact.Name() + " (" + contact.PhoneNumber + ")"; }

std::string ContactCaption(const TContact* contact) { return contact ? ContactCaption(*contact) : std::string(); }

const std::string& TContact::UpperCaption() const
{
    if (FCaptionMade && FCaptionNameVersion == NameVersion() && FCaptionPhone == PhoneNumber)
        return FUpperCaption;
    const unsigned char* upper = UpperCaseTable();
    FUpperCaption.clear();
    FUpperCaption.reserve(Name().size() + PhoneNumber.size() + 3);
    for (char c : Name())
        FUpperCaption += static_cast<char>(upper[static_cast<unsigned char>(c)]);
    FUpperCaption += " (";
    for (char c : PhoneNumber)
        FUpperCaption += static_cast<char>(upper[static_cast<unsigned char>(c)]);
    FUpperCaption += ')';
    FCaptionPhone = PhoneNumber;
    FCaptionNameVersion = NameVersion();
    FCaptionMade = true;
    return FUpperCaption;
}

TContactList::TContactList(bool ownsItems)
    : TItemList<TContact>(ownsItems, {Cp1251("Не указано имя абонента."),
                                      Cp1251("Уже существует абонент с таким именем."),
                                      Cp1251("Уже существует абонент с таким ID.")})
{
}

void TContactSet::AddGroup(const TGroup* group)
{
    if (!group)
        return;
    for (int i = group->Contacts.Count() - 1; i >= 0; --i)
        AddContact(group->Contacts.Items(i));
}

TGroupList::TGroupList(bool ownsItems)
    : TItemList<TGroup>(ownsItems, {Cp1251("Не указано имя группы."),
                                    Cp1251("Уже существует группа с таким именем."),
                                    Cp1251("Уже существует группа с таким ID.")})
{
}

void TGroupList::ClearNonSpecial()
{
    for (int i = Count() - 1; i >= 0; --i)
        if (!dynamic_cast<TSpecialGroup*>(Items(i)))
            Delete(i);
}

TSmsSenderList::TSmsSenderList(bool ownsItems)
    : TItemList<TSmsSender>(ownsItems, {Cp1251("Не указано имя оператора."),
                                        Cp1251("Уже существует оператор с таким именем."),
                                        Cp1251("Уже существует оператор с таким ID.")})
{
}

std::vector<std::string> SmsPieces(const std::string& text, int maxSmsLen)
{
    const long long length = static_cast<long long>(text.size());
    // Ten characters of each piece are kept for the "k iz N) " header.
    const long long part = static_cast<long long>(maxSmsLen) - 10;
    if (part <= 0 || maxSmsLen >= length)
        return {text};
    const long long count = (length + part - 1) / part;
    std::vector<std::string> pieces;
    pieces.reserve(static_cast<size_t>(count));
    for (long long k = 1; k <= count; ++k) {
        std::string piece = IntToStr(k) + " iz " + IntToStr(count) + ") ";
        piece.append(text, static_cast<size_t>((k - 1) * part), static_cast<size_t>(part));
        pieces.push_back(std::move(piece));
    }
    return pieces;
}

void TSmsSender::Send(const std::string& phone, const std::string& text, const TTranslitTable* table)
{
    const std::string converted = TranslitFlag ? Translit(table ? *table : TranslitTable(), text) : text;
    const std::vector<std::string> pieces = SmsPieces(converted, MaxSmsLen);
    if (pieces.size() == 1) {
        DoSend(phone, pieces.front());
        return;
    }
    for (size_t k = 0; k < pieces.size(); ++k) {
        // A pause cut short by the delivery's cancel sends nothing more.
        if (k > 0 && DeliveriesCancelled())
            throw TError(DeliveriesCancelledMessage());
        DoSend(phone, pieces[k]);
        WaitMs(SmsPieceWaitMs);
    }
}

void TSmsSenderPlaceholder::DoSend(const std::string&, const std::string&)
{
    throw TError(Cp1251("Оператор «") + Name() + Cp1251("» не найден."));
}

std::unique_ptr<TSmsSender> TSmsSenderPlaceholder::Clone() const
{
    return std::make_unique<TSmsSenderPlaceholder>(*this);
}
