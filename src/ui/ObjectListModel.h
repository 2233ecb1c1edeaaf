#pragma once
// List models over the manager's lists. A model keeps a snapshot of the rows
// the view knows (the row's object and its caption); Sync() compares it with
// the list after each manager call and reports removed, added and
// re-captioned rows, so a view never reads an object that has gone.
//
// Rows are kept in the Russian collator's order (case-sensitive), never in
// code-point order, so the views need no sorting proxy. Sorting 20,000 rows
// with QCollator::compare takes far longer than a frame: each model caches a
// collation key per object (recomputed only when the caption changes) and a
// rank among all the objects it has met, so a refill sorts integers.
#include "model/ItemList.h"
#include "ui/UiText.h"

#include <QAbstractListModel>
#include <QCollator>
#include <QIcon>
#include <QLocale>
#include <QMimeData>
#include <QSortFilterProxyModel>

#include <algorithm>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

// The collation of the windows' lists: Russian, case-sensitive, numbers as text.
inline QCollator MakeRussianCollator()
{
    QCollator c(QLocale(QLocale::Russian, QLocale::Russia));
    c.setCaseSensitivity(Qt::CaseSensitive);
    c.setNumericMode(false);
    return c;
}

// The one collator of the windows' thread.
inline QCollator& RussianCollator()
{
    static QCollator collator = MakeRussianCollator();
    return collator;
}

// Runs work(from, to, collator) over [0, count) in slices, a large count (the
// whole address book at start-up) shared among the processor's cores, each
// with its own collator (a collator may not be used by two threads at once).
// Returns where each slice begins, and `count` at the end.
inline std::vector<size_t> RunInSlices(size_t count, const std::function<void(size_t, size_t, QCollator&)>& work)
{
    constexpr size_t LeastPerSlice = 2000;
    const size_t slices = std::min<size_t>({std::max(1u, std::thread::hardware_concurrency()), 4,
                                            std::max<size_t>(1, count / LeastPerSlice)});
    std::vector<size_t> bounds;
    for (size_t i = 0; i < slices; ++i)
        bounds.push_back(count / slices * i);
    bounds.push_back(count);
    // Every started thread is joined, whatever fails; the first failure is raised after.
    std::vector<std::exception_ptr> failures(slices);
    std::vector<std::thread> helpers;
    try {
        for (size_t i = 1; i < slices; ++i)
            helpers.emplace_back([&work, &bounds, &failures, i] {
                try {
                    QCollator collator = MakeRussianCollator();
                    work(bounds[i], bounds[i + 1], collator);
                } catch (...) {
                    failures[i] = std::current_exception();
                }
            });
    } catch (...) { // no thread to be had: the rest on this one
        for (size_t i = helpers.size() + 1; i < slices; ++i)
            try {
                work(bounds[i], bounds[i + 1], RussianCollator());
            } catch (...) {
                failures[i] = std::current_exception();
            }
    }
    try {
        work(bounds[0], bounds[1], RussianCollator());
    } catch (...) {
        failures[0] = std::current_exception();
    }
    for (std::thread& helper : helpers)
        helper.join();
    for (const std::exception_ptr& failure : failures)
        if (failure)
            std::rethrow_exception(failure);
    return bounds;
}

// The rows of a list of objects (TKey: a pointer, or a variant of pointers),
// sorted by caption. Subclasses say which objects the list holds now, and
// the caption and icon of each.
template <class TKey>
class TSortedObjectModel : public QAbstractListModel {
public:
    explicit TSortedObjectModel(QObject* parent) : QAbstractListModel(parent) {}

    // The same icon on every row (unless IconOf says otherwise).
    void SetIcon(const QIcon& icon) { FIcon = icon; }

    // Brings the rows in line with the objects: rows whose object left are
    // removed, new objects are added, changed captions reported and re-sorted.
    // Persistent indexes (the selection) follow their objects.
    void Sync()
    {
        std::vector<TKey> objects;
        CollectObjects(objects);
        std::unordered_map<TKey, bool> present; // object -> already has a row
        present.reserve(objects.size());
        for (const TKey& object : objects)
            present.emplace(object, false);
        // Removals, from the end so that row numbers stay valid; runs in one call.
        for (int row = static_cast<int>(FRows.size()) - 1; row >= 0;) {
            auto it = present.find(FRows[static_cast<size_t>(row)].Object);
            if (it != present.end() && !it->second) {
                it->second = true; // seen; a second row of the same object goes
                --row;
                continue;
            }
            int last = row;
            while (row - 1 >= 0) {
                auto prev = present.find(FRows[static_cast<size_t>(row - 1)].Object);
                if (prev != present.end() && !prev->second)
                    break;
                --row;
            }
            beginRemoveRows(QModelIndex(), row, last);
            FRows.erase(FRows.begin() + row, FRows.begin() + last + 1);
            endRemoveRows();
            --row;
        }
        // Captions of the rows that stay.
        std::vector<TEntry*> fresh;
        std::vector<TKey> changed;
        for (TRow& row : FRows) {
            size_t before = fresh.size();
            row.Entry = &EntryOf(row.Object, fresh);
            if (fresh.size() != before)
                changed.push_back(row.Object);
        }
        // New objects, in list order, appended; the re-sort below places them.
        std::vector<TRow> added;
        for (const TKey& object : objects) {
            auto it = present.find(object);
            if (it != present.end() && !it->second) {
                it->second = true;
                added.push_back({object, &EntryOf(object, fresh)});
            }
        }
        PlaceInOrder(fresh); // texts ready before the view may ask for the new rows
        if (!added.empty()) {
            int first = static_cast<int>(FRows.size());
            beginInsertRows(QModelIndex(), first, first + static_cast<int>(added.size()) - 1);
            FRows.insert(FRows.end(), added.begin(), added.end());
            endInsertRows();
        }
        Resort();
        for (const TKey& object : changed) {
            QModelIndex index = this->index(RowOfKey(object));
            emit dataChanged(index, index, {Qt::DisplayRole});
        }
        Prune();
    }

    // Row of an object, -1 when it is not shown.
    int RowOfKey(const TKey& object) const
    {
        for (size_t row = 0; row < FRows.size(); ++row)
            if (FRows[row].Object == object)
                return static_cast<int>(row);
        return -1;
    }
    const TKey* KeyAt(const QModelIndex& index) const
    {
        if (!index.isValid() || index.model() != this || index.row() >= static_cast<int>(FRows.size()))
            return nullptr;
        return &FRows[static_cast<size_t>(index.row())].Object;
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(FRows.size());
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        const TKey* key = KeyAt(index);
        if (!key)
            return {};
        if (role == Qt::DisplayRole)
            return FRows[static_cast<size_t>(index.row())].Entry->Text;
        if (role == Qt::DecorationRole)
            return IconOf(*key);
        return {};
    }
    // Rows can be dragged; a drag only ever copies (the view never removes a
    // row by itself), and what it carries is decided by the window.
    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        return QAbstractListModel::flags(index) | Qt::ItemIsDragEnabled;
    }
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }
    Qt::DropActions supportedDropActions() const override { return Qt::CopyAction; }
    QStringList mimeTypes() const override { return {QStringLiteral("application/x-velotext-row")}; }
    QMimeData* mimeData(const QModelIndexList&) const override
    {
        auto* data = new QMimeData;
        data->setData(QStringLiteral("application/x-velotext-row"), QByteArray());
        return data;
    }

protected:
    virtual void CollectObjects(std::vector<TKey>& objects) const = 0;
    virtual std::string CaptionOf(const TKey& object) const = 0; // CP1251
    virtual QIcon IconOf(const TKey&) const { return FIcon; }

    // Rebuilds every row from the objects (another list shown): a model reset.
    void Reload()
    {
        beginResetModel();
        FRows.clear();
        std::vector<TKey> objects;
        CollectObjects(objects);
        std::vector<TEntry*> fresh;
        FRows.reserve(objects.size());
        ++FStamp; // marks the entries given a row, so that a repeated object gets one row
        for (const TKey& object : objects) {
            TEntry& entry = EntryOf(object, fresh);
            if (entry.Stamp != FStamp) {
                entry.Stamp = FStamp;
                FRows.push_back({object, &entry});
            }
        }
        PlaceInOrder(fresh);
        EnsureRanks();
        // Sorting (rank, position) pairs keeps the comparisons in one array.
        std::vector<std::pair<int, int>> order(FRows.size());
        for (size_t i = 0; i < FRows.size(); ++i)
            order[i] = {FRows[i].Entry->Rank, static_cast<int>(i)};
        std::sort(order.begin(), order.end());
        std::vector<TRow> rows;
        rows.reserve(FRows.size());
        for (const auto& [rank, position] : order)
            rows.push_back(FRows[static_cast<size_t>(position)]);
        FRows = std::move(rows);
        endResetModel();
        Prune();
    }

private:
    // What is known of one object: its caption and where it sorts.
    struct TEntry {
        std::string Caption; // CP1251
        QString Text;
        std::optional<QCollatorSortKey> Key;
        int Rank = 0; // position in FOrder while FRanksValid
        unsigned Stamp = 0;
    };
    struct TRow {
        TKey Object;
        TEntry* Entry;
    };

    // The entry of an object with its current caption; a new or re-captioned
    // entry is added to `fresh` (to be placed in order) and taken out of FOrder.
    TEntry& EntryOf(const TKey& object, std::vector<TEntry*>& fresh)
    {
        std::string caption = CaptionOf(object);
        auto [it, inserted] = FEntries.try_emplace(object);
        TEntry& entry = it->second;
        if (inserted || entry.Caption != caption) {
            if (!inserted)
                TakeOutOfOrder(&entry);
            entry.Caption = std::move(caption);
            entry.Key.reset(); // text and key are made with the other fresh entries', in PlaceInOrder
            fresh.push_back(&entry);
        }
        return entry;
    }

    static bool KeyLess(const TEntry* a, const TEntry* b) { return a->Key->compare(*b->Key) < 0; }

    void TakeOutOfOrder(TEntry* entry)
    {
        auto it = FRanksValid ? FOrder.begin() + entry->Rank : std::find(FOrder.begin(), FOrder.end(), entry);
        if (it != FOrder.end() && *it == entry) {
            FOrder.erase(it);
            FRanksValid = false;
        }
    }

    // Gives the fresh entries their text and key. A few entries then go in by
    // binary search; many at once are sorted in slices side by side and merged
    // (an entry equal to others goes after them, in list order).
    void PlaceInOrder(std::vector<TEntry*>& fresh)
    {
        if (fresh.empty())
            return;
        const bool few = fresh.size() <= 64;
        const std::vector<size_t> bounds =
            RunInSlices(fresh.size(), [&fresh, few](size_t from, size_t to, QCollator& collator) {
                for (size_t i = from; i < to; ++i) {
                    fresh[i]->Text = ToQt(fresh[i]->Caption);
                    fresh[i]->Key = collator.sortKey(fresh[i]->Text);
                }
                if (!few)
                    std::stable_sort(fresh.begin() + static_cast<std::ptrdiff_t>(from),
                                     fresh.begin() + static_cast<std::ptrdiff_t>(to), KeyLess);
            });
        if (few) {
            for (TEntry* entry : fresh)
                FOrder.insert(std::upper_bound(FOrder.begin(), FOrder.end(), entry, KeyLess), entry);
        } else {
            for (size_t i = 2; i < bounds.size(); ++i)
                std::inplace_merge(fresh.begin(), fresh.begin() + static_cast<std::ptrdiff_t>(bounds[i - 1]),
                                   fresh.begin() + static_cast<std::ptrdiff_t>(bounds[i]), KeyLess);
            const size_t old = FOrder.size();
            FOrder.insert(FOrder.end(), fresh.begin(), fresh.end());
            std::inplace_merge(FOrder.begin(), FOrder.begin() + static_cast<std::ptrdiff_t>(old), FOrder.end(), KeyLess);
        }
        FRanksValid = false;
    }

    void EnsureRanks()
    {
        if (FRanksValid)
            return;
        for (size_t i = 0; i < FOrder.size(); ++i)
            FOrder[i]->Rank = static_cast<int>(i);
        FRanksValid = true;
    }

    // Puts the rows in collated order as a layout change, moving the
    // persistent indexes with their rows.
    void Resort()
    {
        EnsureRanks();
        auto byRank = [](const TRow& a, const TRow& b) { return a.Entry->Rank < b.Entry->Rank; };
        if (std::is_sorted(FRows.begin(), FRows.end(), byRank))
            return;
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        std::vector<int> order(FRows.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = static_cast<int>(i);
        std::sort(order.begin(), order.end(), [&](int a, int b) {
            return FRows[static_cast<size_t>(a)].Entry->Rank < FRows[static_cast<size_t>(b)].Entry->Rank;
        });
        std::vector<int> newRowOf(order.size());
        std::vector<TRow> rows;
        rows.reserve(FRows.size());
        for (size_t i = 0; i < order.size(); ++i) {
            newRowOf[static_cast<size_t>(order[i])] = static_cast<int>(i);
            rows.push_back(FRows[static_cast<size_t>(order[i])]);
        }
        FRows = std::move(rows);
        const QModelIndexList from = persistentIndexList();
        QModelIndexList to;
        to.reserve(from.size());
        for (const QModelIndex& index : from)
            to << (index.isValid() ? this->index(newRowOf[static_cast<size_t>(index.row())], index.column())
                                   : QModelIndex());
        changePersistentIndexList(from, to);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

    // Forgets the objects that left long ago (a deleted object's address may
    // come back as another object; its caption check keeps that right). A
    // model that shows one group after another keeps the entries of the
    // largest list it has shown, so going back to it costs no new keys.
    void Prune()
    {
        FMostRows = std::max(FMostRows, FRows.size());
        if (FEntries.size() <= 2 * FMostRows + 4096)
            return;
        std::unordered_map<const TEntry*, bool> shown;
        for (const TRow& row : FRows)
            shown.emplace(row.Entry, true);
        std::erase_if(FOrder, [&](const TEntry* e) { return !shown.count(e); });
        std::erase_if(FEntries, [&](const auto& item) { return !shown.count(&item.second); });
        FRanksValid = false;
    }

    std::vector<TRow> FRows;                  // what the view knows, in collated order
    std::unordered_map<TKey, TEntry> FEntries; // every object met (node addresses are stable)
    std::vector<TEntry*> FOrder;               // the entries in collated order
    bool FRanksValid = true;
    size_t FMostRows = 0; // the most rows shown at once
    unsigned FStamp = 0;
    QIcon FIcon;
};

// The rows of one list of the manager (or none), optionally filtered.
template <class T>
class TObjectListModel : public TSortedObjectModel<T*> {
public:
    using TCaption = std::string (*)(const T*); // CP1251

    TObjectListModel(TCaption caption, QObject* parent) : TSortedObjectModel<T*>(parent), FCaption(caption) {}

    // Shows another list (or none): a model reset.
    void SetList(const TItemList<T>* list)
    {
        FList = list;
        this->Reload();
    }
    const TItemList<T>* List() const { return FList; }
    // Objects for which the filter says false get no row (set before SetList).
    void SetFilter(std::function<bool(const T*)> filter) { FFilter = std::move(filter); }

    T* ObjectAt(const QModelIndex& index) const
    {
        T* const* key = this->KeyAt(index);
        return key ? *key : nullptr;
    }
    int RowOf(const T* object) const { return this->RowOfKey(const_cast<T*>(object)); }

protected:
    void CollectObjects(std::vector<T*>& objects) const override
    {
        if (!FList)
            return;
        objects.reserve(static_cast<size_t>(FList->Count()));
        for (T* object : *FList)
            if (!FFilter || FFilter(object))
                objects.push_back(object);
    }
    std::string CaptionOf(T* const& object) const override { return FCaption(object); }

private:
    const TItemList<T>* FList = nullptr;
    TCaption FCaption;
    std::function<bool(const T*)> FFilter;
};

// Sorts any model's display texts with the Russian collator (case-sensitive).
// The object models are sorted already; this is for plain text models.
class TCollatedSortModel : public QSortFilterProxyModel {
public:
    explicit TCollatedSortModel(QObject* parent) : QSortFilterProxyModel(parent)
    {
        setDynamicSortFilter(true);
        sort(0);
    }

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override
    {
        return RussianCollator().compare(left.data().toString(), right.data().toString()) < 0;
    }
};
