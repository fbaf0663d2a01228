#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string_view>

namespace mirelo {

inline constexpr uint32_t kCacheCapacity = 10000;
// Bytes of text and source the cache holds at most, whatever the engine returns.
inline constexpr size_t kCacheByteCapacity = size_t{64} << 20;
// A longer translation is answered but never cached.
inline constexpr size_t kMaxCachedTextBytes = size_t{1} << 20;

// The cache key of a source line: each byte taken as a signed char, h = rotl(h, 7) + c.
// A null pointer and the empty text both give 0.
uint32_t HashText(const char* text);

// One cached translation. Entries made by the cache live in a single allocation: this header,
// then the translation and its NUL, then the source bytes (not terminated).
struct CacheEntry {
    CacheEntry* prev = nullptr;  // towards the most recent end
    CacheEntry* next = nullptr;  // towards the least recent end
    uint32_t key = 0;
    uint32_t textSize = 0;
    uint32_t sourceSize = 0;

    // NUL-terminated: text().data()[text().size()] == '\0'.
    std::string_view text() const { return {Bytes(), textSize}; }
    std::string_view source() const { return {Bytes() + textSize + 1, sourceSize}; }

  private:
    const char* Bytes() const { return reinterpret_cast<const char*>(this + 1); }
};

// Least-recently-used cache of finished translations, keyed by HashText of the source.
// Single-threaded: the worker thread alone owns it.
class TranslationCache {
  public:
    // A capacity of 0 is taken as 1. The byte capacity bounds the text and source bytes of
    // all entries together; the oldest entries go first to make room.
    explicit TranslationCache(uint32_t capacity = kCacheCapacity,
                              size_t byteCapacity = kCacheByteCapacity);
    ~TranslationCache();
    TranslationCache(const TranslationCache&) = delete;
    TranslationCache& operator=(const TranslationCache&) = delete;

    // A hit needs the key filed AND the entry's source bytes equal to `source`; the hit becomes
    // the most recent entry. A miss (absent key, or a colliding source) changes nothing.
    const CacheEntry* FindEntry(uint32_t key, std::string_view source);

    // Files a copy of `text` for `source` under `key` as the most recent entry. An entry already
    // filed under the key (a colliding source) is replaced, so the count stays; otherwise the
    // least recent entry is evicted first when the cache is full.
    // Older entries are evicted while the bytes held exceed the byte capacity.
    // Returns null, with the cache unchanged, when memory cannot be had, the text is longer
    // than kMaxCachedTextBytes, or text and source together exceed the byte capacity.
    // The returned entry stays valid until it is evicted, replaced or RemoveAll runs.
    const CacheEntry* AddEntry(uint32_t key, std::string_view source, std::string_view text);

    uint32_t GetCount() const { return static_cast<uint32_t>(m_map.size()); }
    uint32_t GetCapacity() const { return m_capacity; }
    size_t GetBytes() const { return m_bytes; }

    void RemoveAll();

    // Walks the list and the map; false when they disagree, a link is broken or the count is
    // over capacity. Costs O(n): for tests and debug checks.
    bool CheckInvariants() const;

  private:
    friend struct TranslationCacheProbe;

    static CacheEntry* MakeEntry(uint32_t key, std::string_view source, std::string_view text);
    static void FreeEntry(CacheEntry* entry);
    void Unlink(CacheEntry* entry);
    void AttachMostRecent(CacheEntry* entry);
    void EvictOver(const CacheEntry* keep);

    std::map<uint32_t, CacheEntry*> m_map;
    // Sentinels only link; they carry no text and are never handed out.
    CacheEntry m_head;
    CacheEntry m_tail;
    uint32_t m_capacity;
    size_t m_byteCapacity;
    size_t m_bytes = 0;
};

}  // namespace mirelo
