// Reads an extended dialog template back from its resource bytes, so tests can
// compare every field with what the options dialog must look like.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mirelo::test {

// A name-or-ordinal field: an ordinal, a string, or neither.
struct NameOrOrdinal {
    uint16_t ordinal = 0;  // non-zero for the ordinal form
    std::wstring name;
};

struct DialogItem {
    uint32_t helpId, exStyle, style;
    int16_t x, y, cx, cy;
    uint32_t id;
    NameOrOrdinal windowClass;
    NameOrOrdinal title;
    uint16_t extraCount;
};

struct DialogTemplateEx {
    uint16_t version, signature;
    uint32_t helpId, exStyle, style;
    int16_t x, y, cx, cy;
    NameOrOrdinal menu, windowClass;
    std::wstring title;
    uint16_t pointSize, weight;
    uint8_t italic, charset;
    std::wstring typeface;
    std::vector<DialogItem> items;
};

// Nullopt when the bytes are not a well-formed extended template or run short.
std::optional<DialogTemplateEx> ParseDialogTemplateEx(const void* data, size_t size);

// Finds and parses dialog `id` in `language` of `module` (an image or data-file handle).
std::optional<DialogTemplateEx> LoadDialogTemplateEx(HMODULE module, int id, WORD language);

}  // namespace mirelo::test
