// A compressed trie over byte strings, frozen into flat arrays: nodes sit only where keys
// branch or end, and each edge holds a run of bytes of one key. Finds, at one position of a
// NUL-terminated text, the longest key that ends on a character boundary.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mirelo::dict {

using Byte = unsigned char;

class ByteTrie {
  public:
    static constexpr uint32_t kNone = UINT32_MAX;

    // `keys` sorted ascending, unique, non-empty, without NUL bytes; `values[i]` belongs to
    // `keys[i]`. Throws std::bad_alloc.
    void Build(const std::vector<std::string_view>& keys, const std::vector<uint32_t>& values);

    bool Empty() const { return nodeValue_.empty(); }

    // Could a key start with byte `b`?
    bool MayStart(Byte b) const { return root_[b] != 0; }

    // The value of the longest key that `s` starts with and whose end falls between two
    // characters, as `unit` (bytes of the character at a pointer) walks them from `s`;
    // kNone if none. Never reads past the NUL of `s`.
    template <class Unit>
    uint32_t Longest(const Byte* s, Unit unit, size_t& length) const;

  private:
    uint32_t AddNode(const std::vector<std::string_view>& keys, const std::vector<uint32_t>& values,
                     size_t lo, size_t hi, size_t depth, const std::vector<uint32_t>& keyOffset);
    uint32_t Edge(uint32_t node, Byte b) const;

    // Node n: its value (or kNone) and its edges [edgeBegin_[n], edgeBegin_[n + 1]), sorted
    // by first byte.
    std::vector<uint32_t> nodeValue_;
    std::vector<uint32_t> edgeBegin_;
    // Edge e: its first byte, its bytes in keys_ at labelOffset_[e] (labelLength_[e] long,
    // first byte included), the node it leads to.
    std::vector<Byte> edgeFirst_;
    std::vector<uint32_t> labelOffset_;
    std::vector<uint16_t> labelLength_;
    std::vector<uint32_t> edgeChild_;
    // Nodes with many edges also have a table from first byte to edge (offset plus one, 0
    // where none), so finding an edge is one load: an index into dense_, or kNone.
    std::vector<uint32_t> nodeDense_;
    std::vector<std::array<uint8_t, 256>> dense_;
    std::string keys_;
    // The root's edge for each first byte, plus one; 0 where none starts.
    std::array<uint32_t, 256> root_{};
};

inline uint32_t ByteTrie::Edge(uint32_t node, Byte b) const {
    if (node == 0) return root_[b] == 0 ? kNone : root_[b] - 1;
    uint32_t lo = edgeBegin_[node];
    if (const uint32_t dense = nodeDense_[node]; dense != kNone) {
        const uint8_t at = dense_[dense][b];
        return at == 0 ? kNone : lo + at - 1;
    }
    const uint32_t hi = edgeBegin_[node + 1];
    for (; lo < hi; ++lo)
        if (edgeFirst_[lo] == b) return lo;
    return kNone;
}

template <class Unit>
uint32_t ByteTrie::Longest(const Byte* s, Unit unit, size_t& length) const {
    if (nodeValue_.empty()) return kNone;
    uint32_t best = kNone;
    uint32_t node = 0;
    size_t pos = 0;       // bytes of `s` matched so far
    size_t boundary = 0;  // first character boundary at or after pos
    for (;;) {
        const uint32_t e = Edge(node, s[pos]);
        if (e == kNone) return best;
        const Byte* label = reinterpret_cast<const Byte*>(keys_.data()) + labelOffset_[e];
        const size_t n = labelLength_[e];
        // Labels hold no NUL, so the comparison stops at the text's end.
        for (size_t k = 1; k < n; ++k)
            if (s[pos + k] != label[k]) return best;
        pos += n;
        node = edgeChild_[e];
        while (boundary < pos) boundary += unit(s + boundary);
        if (boundary == pos && nodeValue_[node] != kNone) {
            best = nodeValue_[node];
            length = pos;
        }
    }
}

}  // namespace mirelo::dict
