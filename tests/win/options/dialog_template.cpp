#include "dialog_template.h"

#include <cstring>

namespace mirelo::test {

namespace {

class Reader {
  public:
    Reader(const void* data, size_t size) : m_p(static_cast<const uint8_t*>(data)), m_size(size) {}

    bool ok() const { return m_ok; }

    template <typename T>
    T Get() {
        T value{};
        if (m_pos + sizeof(T) > m_size) {
            m_ok = false;
            return value;
        }
        std::memcpy(&value, m_p + m_pos, sizeof(T));
        m_pos += sizeof(T);
        return value;
    }

    std::wstring String() {
        std::wstring s;
        for (;;) {
            const auto c = Get<uint16_t>();
            if (!m_ok || c == 0) return s;
            s.push_back(static_cast<wchar_t>(c));
        }
    }

    NameOrOrdinal NameOrOrd() {
        NameOrOrdinal field;
        const auto first = Get<uint16_t>();
        if (first == 0xFFFF) {
            field.ordinal = Get<uint16_t>();
        } else if (first != 0) {
            field.name.push_back(static_cast<wchar_t>(first));
            field.name += String();
        }
        return field;
    }

    void AlignDword() { m_pos = (m_pos + 3) & ~size_t{3}; }
    void Skip(size_t n) {
        if (m_pos + n > m_size) m_ok = false;
        m_pos += n;
    }

  private:
    const uint8_t* m_p;
    size_t m_size;
    size_t m_pos = 0;
    bool m_ok = true;
};

}  // namespace

std::optional<DialogTemplateEx> ParseDialogTemplateEx(const void* data, size_t size) {
    Reader r(data, size);
    DialogTemplateEx t{};
    t.version = r.Get<uint16_t>();
    t.signature = r.Get<uint16_t>();
    if (!r.ok() || t.version != 1 || t.signature != 0xFFFF) return std::nullopt;
    t.helpId = r.Get<uint32_t>();
    t.exStyle = r.Get<uint32_t>();
    t.style = r.Get<uint32_t>();
    const auto count = r.Get<uint16_t>();
    t.x = r.Get<int16_t>();
    t.y = r.Get<int16_t>();
    t.cx = r.Get<int16_t>();
    t.cy = r.Get<int16_t>();
    t.menu = r.NameOrOrd();
    t.windowClass = r.NameOrOrd();
    t.title = r.String();
    if (t.style & (DS_SETFONT | DS_SHELLFONT)) {
        t.pointSize = r.Get<uint16_t>();
        t.weight = r.Get<uint16_t>();
        t.italic = r.Get<uint8_t>();
        t.charset = r.Get<uint8_t>();
        t.typeface = r.String();
    }
    for (uint16_t i = 0; i < count && r.ok(); ++i) {
        r.AlignDword();
        DialogItem item{};
        item.helpId = r.Get<uint32_t>();
        item.exStyle = r.Get<uint32_t>();
        item.style = r.Get<uint32_t>();
        item.x = r.Get<int16_t>();
        item.y = r.Get<int16_t>();
        item.cx = r.Get<int16_t>();
        item.cy = r.Get<int16_t>();
        item.id = r.Get<uint32_t>();
        item.windowClass = r.NameOrOrd();
        item.title = r.NameOrOrd();
        item.extraCount = r.Get<uint16_t>();
        r.Skip(item.extraCount);
        t.items.push_back(std::move(item));
    }
    if (!r.ok()) return std::nullopt;
    return t;
}

std::optional<DialogTemplateEx> LoadDialogTemplateEx(HMODULE module, int id, WORD language) {
    HRSRC res = FindResourceExW(module, MAKEINTRESOURCEW(5) /* RT_DIALOG */, MAKEINTRESOURCEW(id),
                                language);
    if (!res) return std::nullopt;
    HGLOBAL handle = LoadResource(module, res);
    const void* data = handle ? LockResource(handle) : nullptr;
    if (!data) return std::nullopt;
    return ParseDialogTemplateEx(data, SizeofResource(module, res));
}

}  // namespace mirelo::test
