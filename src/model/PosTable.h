#pragma once
// Positions by a key that fits in 64 bits (an id, an object's address): open
// addressing in one array, no allocation per entry. Set keeps the last
// position given for a key; entries are only ever added or all cleared.
//
// RunBits: keys that differ only in their lowest RunBits bits get neighbouring
// slots (the runs themselves are scattered), so that numbers given out one
// after another, like ids, are stored and found without a cache miss each.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

template <unsigned RunBits = 0>
class TPosTable {
public:
    // Forgets every entry (the room stays).
    void Clear()
    {
        std::fill(FSlots.begin(), FSlots.end(), TSlot {});
        FCount = 0;
    }
    // Room for this many entries without regrowing.
    void Reserve(size_t items)
    {
        const size_t size = SizeFor(items);
        if (size > FSlots.size())
            Rehash(size);
    }
    // The position stored for the key, or -1.
    int Find(std::uint64_t key) const
    {
        if (FSlots.empty())
            return -1;
        const size_t mask = FSlots.size() - 1;
        for (size_t i = Home(key) & mask;; i = (i + 1) & mask) {
            const TSlot& slot = FSlots[i];
            if (slot.Pos < 0)
                return -1;
            if (slot.Key == key)
                return slot.Pos;
        }
    }
    void Set(std::uint64_t key, int pos)
    {
        Reserve(FCount + 1);
        const size_t mask = FSlots.size() - 1;
        for (size_t i = Home(key) & mask;; i = (i + 1) & mask) {
            TSlot& slot = FSlots[i];
            if (slot.Pos < 0) {
                slot = {key, pos};
                ++FCount;
                return;
            }
            if (slot.Key == key) {
                slot.Pos = pos;
                return;
            }
        }
    }

private:
    struct TSlot {
        std::uint64_t Key = 0;
        int Pos = -1; // -1: free
    };
    static size_t SizeFor(size_t items)
    {
        size_t size = 16;
        while (size < items * 2 + 2)
            size <<= 1;
        return size;
    }
    static size_t Mix(std::uint64_t key)
    {
        key ^= key >> 33;
        key *= 0xff51afd7ed558ccdull;
        key ^= key >> 33;
        return static_cast<size_t>(key);
    }
    static size_t Home(std::uint64_t key)
    {
        constexpr std::uint64_t low = (std::uint64_t {1} << RunBits) - 1;
        return (Mix(key >> RunBits) << RunBits) | static_cast<size_t>(key & low);
    }
    void Rehash(size_t size)
    {
        std::vector<TSlot> old(size);
        old.swap(FSlots);
        const size_t mask = size - 1;
        for (const TSlot& slot : old) {
            if (slot.Pos < 0)
                continue;
            size_t i = Home(slot.Key) & mask;
            while (FSlots[i].Pos >= 0)
                i = (i + 1) & mask;
            FSlots[i] = slot;
        }
    }

    std::vector<TSlot> FSlots;
    size_t FCount = 0;
};
