#include "model/ItemList.h"

#include "model/Text.h"

#include <atomic>

namespace {
std::atomic<std::uint64_t> gGeneration {1};
std::atomic<std::uint64_t> gNameVersion {0};
}

std::uint64_t ListedItemGeneration() { return gGeneration.load(std::memory_order_relaxed); }

TError ListIndexError(long long index)
{
    return TError(Cp1251("Индекс списка вне допустимых границ (") + IntToStr(index) + ").");
}

void TListedItem::SetName(std::string name)
{
    if (name == FName)
        return;
    FName = std::move(name);
    FNameVersion = gNameVersion.fetch_add(1, std::memory_order_relaxed) + 1;
    if (FListed)
        gGeneration.fetch_add(1, std::memory_order_relaxed);
}

void TListedItem::SetItemId(int id)
{
    if (id == FId)
        return;
    FId = id;
    if (FListed)
        gGeneration.fetch_add(1, std::memory_order_relaxed);
}

TListedItem& TListedItem::operator=(const TListedItem& other)
{
    if (this != &other) {
        SetName(other.FName);
        SetItemId(other.FId);
    }
    return *this;
}
