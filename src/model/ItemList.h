#pragma once
// The machinery behind the address-book lists: named, numbered items and an
// ordered list of them with an ownership flag and a validated append.
//
// The validated append scans the list from its last item to its first; the
// first clash met decides the error. To keep it O(1) on big lists, every list
// keeps an index (upper-cased name -> last position, id -> last position,
// item -> position, largest id). Names and ids are private with setters so
// that a rename or a re-numbering of an item that is in some list makes every
// list index rebuild lazily (a global change counter).
#include "model/Error.h"
#include "model/PosTable.h"
#include "model/Text.h"

#include <climits>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Counter bumped by every change of name or id of an item that has been in a list.
std::uint64_t ListedItemGeneration();

// "Индекс списка вне допустимых границ (N)."
TError ListIndexError(long long index);

class TListedItem {
public:
    const std::string& Name() const { return FName; }
    void SetName(std::string name);
    // Changes with every change of the name, never coming back to an earlier
    // value of any item (for caches built from the name).
    std::uint64_t NameVersion() const { return FNameVersion; }

protected:
    TListedItem() = default;
    // A copy is a new object: it carries name and id but is in no list.
    TListedItem(const TListedItem& other) : FName(other.FName), FNameVersion(other.FNameVersion), FId(other.FId) {}
    TListedItem& operator=(const TListedItem& other);
    ~TListedItem() = default;

    int ItemId() const { return FId; }
    void SetItemId(int id);

private:
    template <class T>
    friend class TItemList;
    std::string FName;
    std::uint64_t FNameVersion = 0;
    int FId = 0;
    bool FListed = false; // has been appended to some list
};

// The error texts of one kind of list (CP1251).
struct TListMessages {
    std::string MissingName;
    std::string DuplicateName;
    std::string DuplicateId;
};

template <class T>
class TItemList {
public:
    using const_iterator = typename std::vector<T*>::const_iterator;

    TItemList(bool ownsItems, TListMessages messages) : FOwns(ownsItems), FMessages(std::move(messages)) {}
    virtual ~TItemList() { Clear(); }
    TItemList(const TItemList&) = delete;
    TItemList& operator=(const TItemList&) = delete;

    bool OwnsItems() const { return FOwns; }
    const TListMessages& Messages() const { return FMessages; }
    int Count() const { return static_cast<int>(FItems.size()); }
    bool Empty() const { return FItems.empty(); }
    T* Items(int index) const
    {
        if (index < 0 || index >= Count())
            throw ListIndexError(index);
        return FItems[static_cast<size_t>(index)];
    }
    T* operator[](int index) const { return Items(index); }
    const_iterator begin() const { return FItems.begin(); }
    const_iterator end() const { return FItems.end(); }

    // Position of the very object, or -1.
    int IndexOf(const T* item) const
    {
        EnsureIndex();
        IndexNewItems();
        return FItemPos.Find(ItemKey(item));
    }
    // Position of the last item whose name equals the text without regard to
    // letter case (the text is not trimmed), or -1.
    int IndexOfName(std::string_view name) const;
    // IndexOfName of each name, into `positions` (one per name): in a batch,
    // so that the memory reads of one name overlap those of the others.
    void IndexesOfNames(const std::vector<std::string_view>& names, std::vector<int>& positions) const;
    // Starts fetching what a lookup or append of this name will read (a hint).
    void PrefetchName(std::string_view name) const;

    // Whether no two items have names equal without regard to letter case
    // (a rename may have made two alike).
    bool NamesDistinct() const
    {
        EnsureIndex();
        return FNameCount == FItems.size();
    }

    // Removes the item at the position; an owning list destroys it.
    void Delete(int index);
    // Removes the object if present (destroying it if the list owns it); its former position or -1.
    int Remove(T* item);
    // Forgets the object without destroying it; returns it, or nullptr if absent.
    T* Extract(T* item);
    // Removes every item; an owning list destroys them.
    void Clear();
    // Replaces the items of a list that does not own them by these, in this
    // order, without the validated append: they must be distinct objects with
    // distinct names and ids that are in some list already (e.g. taken from
    // one list). Raises a system error for an owning list.
    void AssignDistinct(std::vector<T*> items);
    // Room for this many items without regrowing (a hint).
    void Reserve(size_t count);

protected:
    // The validated append. Returns true when the item is in the list
    // afterwards (appended, or already there), false when quiet mode skipped
    // it; the caller still holds a skipped item. Raises the list's errors.
    bool AddItem(T* item, bool quiet);

private:
    void EnsureIndex() const;
    void InvalidateIndex() { FIndexValid = false; }
    int FreeIdAfterMax() const;

    bool FOwns;
    TListMessages FMessages;
    std::vector<T*> FItems;

    mutable bool FIndexValid = false;
    mutable std::uint64_t FIndexGeneration = 0;
    // Names (letter case ignored) -> last position: open addressing over the
    // items' own names, no allocation per item.
    struct TNameSlot {
        std::uint32_t Hash = 0;
        int Pos = -1; // -1: free
    };
    static std::uint32_t NameHash(std::string_view name);
    int NamePos(std::string_view name) const;
    void SetNamePos(std::string_view name, int pos) const;
    void ResizeNameSlots(size_t items) const;
    mutable std::vector<TNameSlot> FNameSlots;
    mutable size_t FNameCount = 0;
    // The upper-cased names one after another in list order, and where each
    // position's name ends: a lookup compares against these few dense arrays
    // instead of reaching every item and its name through two pointers.
    void AppendFoldedName(std::string_view name) const;
    bool FoldedNameIs(int pos, std::string_view name) const;
    mutable std::string FFoldedNames;
    mutable std::vector<size_t> FFoldedEnd;
    static std::uint64_t IdKey(int id) { return static_cast<std::uint32_t>(id); }
    static std::uint64_t ItemKey(const T* item) { return reinterpret_cast<std::uintptr_t>(item); }
    mutable TPosTable<6> FIdPos;                           // id -> last position
    // item -> position, for the positions below FItemPosUpTo: appending
    // leaves it behind and the first lookup catches up in one pass (a load of
    // thousands of items does not wait on a scattered write for each).
    void IndexNewItems() const;
    mutable TPosTable<> FItemPos;
    mutable size_t FItemPosUpTo = 0;
    mutable int FMaxId = 0;                                // largest id, at least 0
    mutable int FFreeIdFrom = 1;                           // every id below it is in use
};

#include "model/ItemListImpl.h"
