#include "byte_trie.h"

#include <new>

namespace mirelo::dict {

// Below this many edges a node's first bytes are scanned.
constexpr uint32_t kDenseAbove = 4;

void ByteTrie::Build(const std::vector<std::string_view>& keys,
                     const std::vector<uint32_t>& values) {
    *this = ByteTrie();
    if (keys.empty()) return;
    std::vector<uint32_t> keyOffset(keys.size());
    size_t total = 0;
    for (const auto& k : keys) total += k.size();
    if (total > UINT32_MAX) throw std::bad_alloc();
    keys_.reserve(total);
    for (size_t i = 0; i < keys.size(); ++i) {
        keyOffset[i] = static_cast<uint32_t>(keys_.size());
        keys_ += keys[i];
    }
    AddNode(keys, values, 0, keys.size(), 0, keyOffset);
    edgeBegin_.push_back(static_cast<uint32_t>(edgeFirst_.size()));
    for (uint32_t e = edgeBegin_[0]; e < edgeBegin_[1]; ++e) root_[edgeFirst_[e]] = e + 1;
    nodeDense_.assign(nodeValue_.size(), kNone);
    for (size_t n = 1; n < nodeValue_.size(); ++n) {
        if (edgeBegin_[n + 1] - edgeBegin_[n] <= kDenseAbove) continue;
        nodeDense_[n] = static_cast<uint32_t>(dense_.size());
        auto& table = dense_.emplace_back();
        table.fill(0);
        // At most 255 edges: no key holds a NUL byte.
        for (uint32_t e = edgeBegin_[n]; e < edgeBegin_[n + 1]; ++e)
            table[edgeFirst_[e]] = static_cast<uint8_t>(e - edgeBegin_[n] + 1);
    }
    dense_.shrink_to_fit();
    nodeValue_.shrink_to_fit();
    edgeBegin_.shrink_to_fit();
    edgeFirst_.shrink_to_fit();
    labelOffset_.shrink_to_fit();
    labelLength_.shrink_to_fit();
    edgeChild_.shrink_to_fit();
}

// Keys [lo, hi) share their first `depth` bytes. A node's edges are laid out before any of
// its children is made, so each node's edges follow the previous node's.
uint32_t ByteTrie::AddNode(const std::vector<std::string_view>& keys,
                           const std::vector<uint32_t>& values, size_t lo, size_t hi, size_t depth,
                           const std::vector<uint32_t>& keyOffset) {
    const auto id = static_cast<uint32_t>(nodeValue_.size());
    nodeValue_.push_back(kNone);
    edgeBegin_.push_back(static_cast<uint32_t>(edgeFirst_.size()));
    if (keys[lo].size() == depth) nodeValue_[id] = values[lo++];

    const size_t firstEdge = edgeFirst_.size();
    for (size_t i = lo; i < hi;) {
        const Byte b = static_cast<Byte>(keys[i][depth]);
        size_t j = i + 1;
        while (j < hi && static_cast<Byte>(keys[j][depth]) == b) ++j;
        // Sorted keys: what the first and last of the group share, all of it shares.
        const std::string_view a = keys[i];
        const std::string_view z = keys[j - 1];
        size_t end = depth + 1;
        while (end < a.size() && end < z.size() && a[end] == z[end]) ++end;
        edgeFirst_.push_back(b);
        labelOffset_.push_back(keyOffset[i] + static_cast<uint32_t>(depth));
        labelLength_.push_back(static_cast<uint16_t>(end - depth));
        edgeChild_.push_back(0);
        i = j;
    }
    size_t e = firstEdge;
    for (size_t i = lo; i < hi; ++e) {
        const size_t end = depth + labelLength_[e];
        size_t j = i + 1;
        while (j < hi && static_cast<Byte>(keys[j][depth]) == edgeFirst_[e]) ++j;
        const uint32_t child = AddNode(keys, values, i, j, end, keyOffset);
        edgeChild_[e] = child;
        i = j;
    }
    return id;
}

}  // namespace mirelo::dict
