#include "translation_cache.h"

#include <bit>
#include <cstring>
#include <new>
#include <utility>

namespace mirelo {

namespace {

// Keeps header + text + NUL + source inside 32-bit sizes on every target; no line comes near.
constexpr size_t kMaxPartBytes = 0x3FFFFFFF;

size_t EntryBytes(const CacheEntry* entry) {
    return size_t{entry->textSize} + entry->sourceSize;
}

}  // namespace

uint32_t HashText(const char* text) {
    if (!text) return 0;
    uint32_t h = 0;
    for (; *text; ++text) {
        // Bytes of 0x80 and above count as negative: the key must match what hosts already saw.
        h = std::rotl(h, 7) + static_cast<uint32_t>(static_cast<signed char>(*text));
    }
    return h;
}

TranslationCache::TranslationCache(uint32_t capacity, size_t byteCapacity)
    : m_capacity(capacity ? capacity : 1), m_byteCapacity(byteCapacity) {
    // With no room at all, eviction would pick the head sentinel.
    m_head.next = &m_tail;
    m_tail.prev = &m_head;
}

TranslationCache::~TranslationCache() {
    RemoveAll();
}

CacheEntry* TranslationCache::MakeEntry(uint32_t key, std::string_view source,
                                        std::string_view text) {
    if (text.size() > kMaxPartBytes || source.size() > kMaxPartBytes) return nullptr;
    void* block =
        ::operator new(sizeof(CacheEntry) + text.size() + 1 + source.size(), std::nothrow);
    if (!block) return nullptr;
    auto* entry = new (block) CacheEntry;
    entry->key = key;
    entry->textSize = static_cast<uint32_t>(text.size());
    entry->sourceSize = static_cast<uint32_t>(source.size());
    char* bytes = reinterpret_cast<char*>(entry + 1);
    // memcpy from an empty view's null data is undefined, even for zero bytes.
    if (!text.empty()) std::memcpy(bytes, text.data(), text.size());
    bytes[text.size()] = '\0';
    if (!source.empty()) std::memcpy(bytes + text.size() + 1, source.data(), source.size());
    return entry;
}

void TranslationCache::FreeEntry(CacheEntry* entry) {
    entry->~CacheEntry();
    ::operator delete(entry);
}

void TranslationCache::Unlink(CacheEntry* entry) {
    entry->prev->next = entry->next;
    entry->next->prev = entry->prev;
    entry->prev = nullptr;
    entry->next = nullptr;
}

void TranslationCache::AttachMostRecent(CacheEntry* entry) {
    entry->prev = &m_head;
    entry->next = m_head.next;
    m_head.next->prev = entry;
    m_head.next = entry;
}

const CacheEntry* TranslationCache::FindEntry(uint32_t key, std::string_view source) {
    auto it = m_map.find(key);
    if (it == m_map.end()) return nullptr;
    CacheEntry* entry = it->second;
    // Many short lines share a 32-bit hash; only the same bytes may share a translation.
    if (entry->sourceSize != source.size()) return nullptr;
    if (!source.empty() && std::memcmp(entry->source().data(), source.data(), source.size()) != 0)
        return nullptr;
    if (m_head.next != entry) {
        Unlink(entry);
        AttachMostRecent(entry);
    }
    return entry;
}

const CacheEntry* TranslationCache::AddEntry(uint32_t key, std::string_view source,
                                             std::string_view text) {
    if (text.size() > kMaxCachedTextBytes) return nullptr;
    // Kept, it would flush every other line and still hold more than the bound allows.
    if (text.size() + source.size() > m_byteCapacity) return nullptr;
    // Allocate before touching anything, so a failure leaves the cache as it was.
    CacheEntry* entry = MakeEntry(key, source, text);
    if (!entry) return nullptr;

    auto it = m_map.find(key);
    if (it != m_map.end()) {
        // The key is taken by another source: the newer line wins the slot.
        CacheEntry* old = it->second;
        Unlink(old);
        m_bytes -= EntryBytes(old);
        FreeEntry(old);
        it->second = entry;
    } else if (m_map.size() >= m_capacity) {
        CacheEntry* victim = m_tail.prev;
        Unlink(victim);
        // Reusing the victim's map node means a full cache never allocates for the map.
        auto node = m_map.extract(victim->key);
        m_bytes -= EntryBytes(victim);
        FreeEntry(victim);
        node.key() = key;
        node.mapped() = entry;
        m_map.insert(std::move(node));
    } else {
        try {
            m_map.emplace(key, entry);
        } catch (const std::bad_alloc&) {
            FreeEntry(entry);
            return nullptr;
        }
    }
    AttachMostRecent(entry);
    m_bytes += EntryBytes(entry);
    EvictOver(entry);
    return entry;
}

void TranslationCache::EvictOver(const CacheEntry* keep) {
    // AddEntry refuses an entry over the byte capacity, so the newest always fits.
    while (m_bytes > m_byteCapacity && m_tail.prev != keep) {
        CacheEntry* victim = m_tail.prev;
        Unlink(victim);
        m_map.erase(victim->key);
        m_bytes -= EntryBytes(victim);
        FreeEntry(victim);
    }
}

void TranslationCache::RemoveAll() {
    for (auto& [key, entry] : m_map) FreeEntry(entry);
    m_map.clear();
    m_bytes = 0;
    m_head.next = &m_tail;
    m_tail.prev = &m_head;
}

bool TranslationCache::CheckInvariants() const {
    if (m_head.prev || m_tail.next || m_map.size() > m_capacity) return false;
    size_t walked = 0;
    size_t bytes = 0;
    const CacheEntry* behind = &m_head;
    for (const CacheEntry* entry = m_head.next; entry != &m_tail; entry = entry->next) {
        // The step bound stops a cycle; the back link and map checks rule out duplicates.
        if (!entry || entry->prev != behind || ++walked > m_map.size()) return false;
        auto it = m_map.find(entry->key);
        if (it == m_map.end() || it->second != entry) return false;
        bytes += EntryBytes(entry);
        behind = entry;
    }
    return m_tail.prev == behind && walked == m_map.size() && bytes == m_bytes &&
           m_bytes <= m_byteCapacity;
}

}  // namespace mirelo
