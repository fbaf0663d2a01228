#pragma once

#include <cstdint>
#include <vector>

#include "translation_cache.h"

namespace mirelo {

struct TranslationCacheProbe {
    // Keys from the most recent entry to the least recent one.
    static std::vector<uint32_t> KeysByRecency(const TranslationCache& cache) {
        std::vector<uint32_t> keys;
        for (const CacheEntry* e = cache.m_head.next; e && e != &cache.m_tail; e = e->next) {
            if (keys.size() > cache.GetCount()) break;  // a cycle; CheckInvariants reports it
            keys.push_back(e->key);
        }
        return keys;
    }
};

}  // namespace mirelo
