#pragma once
// List models over the manager's lists. The model keeps a snapshot of the rows
// the view knows (object pointer and caption); Sync() compares it with the list
// after each manager call and reports removed, added and re-captioned rows, so
// a view never reads an object that has gone. A collating proxy sorts rows by
// caption with the Russian collator (case-sensitive), never by code point.
#include "model/ItemList.h"
#include "ui/UiText.h"

#include <QAbstractListModel>
#include <QCollator>
#include <QLocale>
#include <QSortFilterProxyModel>

#include <string>
#include <unordered_map>
#include <vector>

template <class T>
class TObjectListModel : public QAbstractListModel {
public:
    using TCaption = std::string (*)(const T*); // CP1251

    TObjectListModel(TCaption caption, QObject* parent) : QAbstractListModel(parent), FCaption(caption) {}

    // Shows another list (or none): a model reset.
    void SetList(const TItemList<T>* list)
    {
        beginResetModel();
        FList = list;
        FRows.clear();
        if (FList) {
            FRows.reserve(static_cast<size_t>(FList->Count()));
            for (T* object : *FList)
                FRows.push_back({object, ToQt(FCaption(object))});
        }
        endResetModel();
    }
    const TItemList<T>* List() const { return FList; }

    // Brings the rows in line with the list: rows whose object left are
    // removed, new objects appended, changed captions reported.
    void Sync()
    {
        std::unordered_map<const T*, bool> present;
        if (FList) {
            present.reserve(static_cast<size_t>(FList->Count()));
            for (T* object : *FList)
                present.emplace(object, false);
        }
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
        for (size_t row = 0; row < FRows.size(); ++row) {
            QString caption = ToQt(FCaption(FRows[row].Object));
            if (caption != FRows[row].Caption) {
                FRows[row].Caption = caption;
                QModelIndex index = this->index(static_cast<int>(row));
                emit dataChanged(index, index, {Qt::DisplayRole});
            }
        }
        // New objects, in list order.
        std::vector<TRow> added;
        if (FList)
            for (T* object : *FList) {
                auto it = present.find(object);
                if (it != present.end() && !it->second) {
                    it->second = true;
                    added.push_back({object, ToQt(FCaption(object))});
                }
            }
        if (!added.empty()) {
            int first = static_cast<int>(FRows.size());
            beginInsertRows(QModelIndex(), first, first + static_cast<int>(added.size()) - 1);
            FRows.insert(FRows.end(), added.begin(), added.end());
            endInsertRows();
        }
    }

    T* ObjectAt(const QModelIndex& sourceIndex) const
    {
        if (!sourceIndex.isValid() || sourceIndex.row() >= static_cast<int>(FRows.size()))
            return nullptr;
        return FRows[static_cast<size_t>(sourceIndex.row())].Object;
    }
    // Source row of an object, -1 when it is not shown.
    int RowOf(const T* object) const
    {
        for (size_t row = 0; row < FRows.size(); ++row)
            if (FRows[row].Object == object)
                return static_cast<int>(row);
        return -1;
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(FRows.size());
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= static_cast<int>(FRows.size()))
            return {};
        return FRows[static_cast<size_t>(index.row())].Caption;
    }

private:
    struct TRow {
        T* Object;
        QString Caption;
    };
    const TItemList<T>* FList = nullptr;
    std::vector<TRow> FRows;
    TCaption FCaption;
};

// Sorts by the display text with the Russian collator, case-sensitive.
class TCollatedSortModel : public QSortFilterProxyModel {
public:
    explicit TCollatedSortModel(QObject* parent)
        : QSortFilterProxyModel(parent), FCollator(QLocale(QLocale::Russian, QLocale::Russia))
    {
        FCollator.setCaseSensitivity(Qt::CaseSensitive);
        FCollator.setNumericMode(false);
        setDynamicSortFilter(true);
        sort(0);
    }

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override
    {
        return FCollator.compare(left.data().toString(), right.data().toString()) < 0;
    }

private:
    QCollator FCollator;
};
