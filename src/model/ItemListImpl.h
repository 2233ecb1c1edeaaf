#pragma once
// Member definitions of TItemList (included by ItemList.h).
#include "model/Text.h"

#include <algorithm>

template <class T>
int TItemList<T>::IndexOfName(std::string_view name) const
{
    EnsureIndex();
    return NamePos(name);
}

template <class T>
void TItemList<T>::PrefetchName(std::string_view name) const
{
    EnsureIndex();
    if (!FNameSlots.empty())
        __builtin_prefetch(&FNameSlots[NameHash(name) & (FNameSlots.size() - 1)]);
}

template <class T>
void TItemList<T>::IndexesOfNames(const std::vector<std::string_view>& names, std::vector<int>& positions) const
{
    EnsureIndex();
    positions.assign(names.size(), -1);
    if (FNameSlots.empty())
        return;
    // Rounds over the whole batch, each fetching ahead what the next one
    // reads: the slot, then the candidate's name. A name whose candidate
    // turns out to differ (the hashes agreed by chance) is looked up in full.
    const size_t mask = FNameSlots.size() - 1;
    std::vector<std::uint32_t> hashes(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        hashes[i] = NameHash(names[i]);
        __builtin_prefetch(&FNameSlots[hashes[i] & mask]);
    }
    for (size_t i = 0; i < names.size(); ++i) {
        for (size_t j = hashes[i] & mask;; j = (j + 1) & mask) {
            const TNameSlot& slot = FNameSlots[j];
            if (slot.Pos < 0)
                break;
            if (slot.Hash == hashes[i]) {
                positions[i] = slot.Pos;
                __builtin_prefetch(&FFoldedEnd[static_cast<size_t>(slot.Pos)]);
                break;
            }
        }
    }
    for (size_t i = 0; i < names.size(); ++i)
        if (positions[i] > 0)
            __builtin_prefetch(FFoldedNames.data() + FFoldedEnd[static_cast<size_t>(positions[i]) - 1]);
    for (size_t i = 0; i < names.size(); ++i)
        if (positions[i] >= 0 && !FoldedNameIs(positions[i], names[i]))
            positions[i] = NamePos(names[i]);
}

template <class T>
std::uint32_t TItemList<T>::NameHash(std::string_view name)
{
    const std::uint64_t h = CaseFoldHash(name);
    return static_cast<std::uint32_t>(h ^ (h >> 32));
}

template <class T>
int TItemList<T>::NamePos(std::string_view name) const
{
    if (FNameSlots.empty())
        return -1;
    const std::uint32_t hash = NameHash(name);
    const size_t mask = FNameSlots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const TNameSlot& slot = FNameSlots[i];
        if (slot.Pos < 0)
            return -1;
        if (slot.Hash == hash && FoldedNameIs(slot.Pos, name))
            return slot.Pos;
    }
}

template <class T>
void TItemList<T>::AppendFoldedName(std::string_view name) const
{
    const unsigned char* upper = UpperCaseTable();
    for (char c : name)
        FFoldedNames += static_cast<char>(upper[static_cast<unsigned char>(c)]);
    FFoldedEnd.push_back(FFoldedNames.size());
}

template <class T>
bool TItemList<T>::FoldedNameIs(int pos, std::string_view name) const
{
    const size_t p = static_cast<size_t>(pos);
    const size_t begin = p == 0 ? 0 : FFoldedEnd[p - 1];
    if (FFoldedEnd[p] - begin != name.size())
        return false;
    const unsigned char* upper = UpperCaseTable();
    const char* folded = FFoldedNames.data() + begin;
    for (size_t i = 0; i < name.size(); ++i)
        if (folded[i] != static_cast<char>(upper[static_cast<unsigned char>(name[i])]))
            return false;
    return true;
}

template <class T>
void TItemList<T>::ResizeNameSlots(size_t items) const
{
    size_t size = 16;
    while (size * 2 < items * 3 + 4) // at most two thirds full
        size <<= 1;
    if (size <= FNameSlots.size())
        return;
    std::vector<TNameSlot> old;
    old.swap(FNameSlots);
    FNameSlots.assign(size, TNameSlot {});
    const size_t mask = size - 1;
    for (const TNameSlot& slot : old) {
        if (slot.Pos < 0)
            continue;
        size_t i = slot.Hash & mask;
        while (FNameSlots[i].Pos >= 0)
            i = (i + 1) & mask;
        FNameSlots[i] = slot;
    }
}

template <class T>
void TItemList<T>::SetNamePos(std::string_view name, int pos) const
{
    ResizeNameSlots(FNameCount + 1);
    const std::uint32_t hash = NameHash(name);
    const size_t mask = FNameSlots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        TNameSlot& slot = FNameSlots[i];
        if (slot.Pos < 0) {
            slot = {hash, pos};
            ++FNameCount;
            return;
        }
        if (slot.Hash == hash && FoldedNameIs(slot.Pos, name)) {
            slot.Pos = pos;
            return;
        }
    }
}

template <class T>
void TItemList<T>::Delete(int index)
{
    T* item = Items(index);
    FItems.erase(FItems.begin() + index);
    InvalidateIndex();
    if (FOwns)
        delete item;
}

template <class T>
int TItemList<T>::Remove(T* item)
{
    int index = IndexOf(item);
    if (index >= 0)
        Delete(index);
    return index;
}

template <class T>
T* TItemList<T>::Extract(T* item)
{
    int index = IndexOf(item);
    if (index < 0)
        return nullptr;
    FItems.erase(FItems.begin() + index);
    InvalidateIndex();
    return item;
}

template <class T>
void TItemList<T>::Clear()
{
    std::vector<T*> items;
    items.swap(FItems);
    InvalidateIndex();
    if (FOwns)
        for (auto it = items.rbegin(); it != items.rend(); ++it)
            delete *it;
}

template <class T>
void TItemList<T>::AssignDistinct(std::vector<T*> items)
{
    if (FOwns)
        throw SystemError("TItemList.AssignDistinct");
    FItems = std::move(items);
    InvalidateIndex();
}

template <class T>
void TItemList<T>::Reserve(size_t count)
{
    FItems.reserve(count);
    EnsureIndex();
    ResizeNameSlots(count);
    FFoldedEnd.reserve(count);
    FIdPos.Reserve(count);
    FItemPos.Reserve(count);
}

template <class T>
void TItemList<T>::EnsureIndex() const
{
    std::uint64_t generation = ListedItemGeneration();
    if (FIndexValid && FIndexGeneration == generation)
        return;
    FNameSlots.clear();
    FNameCount = 0;
    FFoldedNames.clear();
    FFoldedEnd.clear();
    FIdPos.Clear();
    FItemPos.Clear();
    FMaxId = 0;
    FFreeIdFrom = 1;
    ResizeNameSlots(FItems.size());
    FFoldedEnd.reserve(FItems.size());
    FIdPos.Reserve(FItems.size());
    FItemPos.Reserve(FItems.size());
    for (size_t i = 0; i < FItems.size(); ++i) {
        const TListedItem* item = FItems[i];
        int pos = static_cast<int>(i);
        AppendFoldedName(item->FName);
        SetNamePos(item->FName, pos);
        FIdPos.Set(IdKey(item->FId), pos);
        FMaxId = std::max(FMaxId, item->FId);
    }
    FItemPosUpTo = 0;
    FIndexGeneration = generation;
    FIndexValid = true;
}

template <class T>
void TItemList<T>::IndexNewItems() const
{
    for (; FItemPosUpTo < FItems.size(); ++FItemPosUpTo)
        FItemPos.Set(ItemKey(FItems[FItemPosUpTo]), static_cast<int>(FItemPosUpTo));
}

template <class T>
int TItemList<T>::FreeIdAfterMax() const
{
    if (FMaxId < INT_MAX)
        return FMaxId + 1;
    // The largest id is taken: the smallest positive id not in use instead of
    // an overflow into negative ids. Every id below FFreeIdFrom is known to be
    // in use (ids are only added while the index stays valid), so the search
    // goes on where the last one stopped and a whole load stays linear.
    int id = std::max(FFreeIdFrom, 1);
    while (id < INT_MAX && FIdPos.Find(IdKey(id)) >= 0)
        ++id;
    FFreeIdFrom = id;
    return id;
}

template <class T>
bool TItemList<T>::AddItem(T* item, bool quiet)
{
    if (!item)
        throw SystemError("TItemList.Add(nil)");
    TListedItem* x = item;
    EnsureIndex();
    // 1. The very object is already here (never so for an object that was
    // never in any list, such as one just read from a file).
    if (x->FListed) {
        IndexNewItems();
        if (FItemPos.Find(ItemKey(item)) >= 0)
            return true;
    }
    // 2. The trimmed name is stored back, even if a later step fails.
    if (!IsTrimmedText(x->FName))
        x->SetName(Trim(x->FName));
    // 3. A missing name is an error even in quiet mode.
    if (x->FName.empty())
        throw TError(FMessages.MissingName);
    // 4. The clash nearest the end of the list decides; a name clash wins
    // over an id clash on the same item.
    const std::string_view key = x->FName;
    int givenId = x->FId;
    const int namePos = NamePos(key);
    int idPos = -1;
    if (givenId >= 1 && givenId <= FMaxId) // a larger id is nobody's yet
        idPos = FIdPos.Find(IdKey(givenId));
    if (namePos >= 0 || idPos >= 0) {
        if (quiet)
            return false;
        throw TError(namePos >= idPos ? FMessages.DuplicateName : FMessages.DuplicateId);
    }
    // 5. A new id is one more than the largest in the list.
    if (givenId <= 0)
        x->SetItemId(FreeIdAfterMax());
    int pos = static_cast<int>(FItems.size());
    FItems.push_back(item);
    x->FListed = true;
    AppendFoldedName(key);
    SetNamePos(key, pos);
    FIdPos.Set(IdKey(x->FId), pos);
    FMaxId = std::max(FMaxId, x->FId);
    // Only the new item may have changed since the index was checked, and its
    // entries are current: the index stays valid.
    FIndexGeneration = ListedItemGeneration();
    return true;
}
