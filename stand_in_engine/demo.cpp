#include "demo.h"

#include <windows.h>

#include <algorithm>
#include <string_view>
#include <vector>

namespace standin {
namespace {

struct Phrase {
    std::wstring_view ja;
    std::wstring_view ko;
    std::wstring_view note;  // what a real engine tacks on after the word
};

// Longest entries are tried first, so whole phrases win over their parts.
const Phrase kPhrases[] = {
    {L"ありがとうございます", L"감사합니다", L""},
    {L"ありがとう", L"고마워", L""},
    {L"こんにちは", L"안녕하세요", L""},
    {L"こんばんは", L"안녕하세요", L""},
    {L"おはよう", L"좋은 아침", L""},
    {L"さようなら", L"안녕히 가세요", L""},
    {L"すみません", L"죄송합니다", L""},
    {L"はじめから", L"처음부터", L""},
    {L"つづきから", L"이어서", L""},
    {L"はい", L"네", L""},
    {L"いいえ", L"아니요", L""},
    {L"勇者", L"용사", L"(주: 주인공)"},
    {L"魔王", L"마왕", L"[마오]"},
    {L"王様", L"임금님", L"(주: 국왕)"},
    {L"姫", L"공주", L""},
    {L"村", L"마을", L""},
    {L"町", L"마을", L""},
    {L"城", L"성", L""},
    {L"宝箱", L"보물상자", L""},
    {L"剣", L"검", L""},
    {L"薬草", L"약초", L"<HP 회복>"},
    {L"経験値", L"경험치", L"<EXP>"},
    {L"ゴールド", L"골드", L""},
    {L"レベル", L"레벨", L""},
    {L"モンスター", L"몬스터", L""},
    {L"セーブ", L"저장", L"[SAVE]"},
    {L"ロード", L"불러오기", L""},
    {L"攻撃", L"공격", L""},
    {L"防御", L"방어", L""},
    {L"魔法", L"마법", L""},
    {L"回復", L"회복", L""},
    {L"仲間", L"동료", L""},
    {L"冒険", L"모험", L""},
    {L"世界", L"세계", L""},
    {L"敵", L"적", L""},
    {L"手に入れた", L"손에 넣었다", L""},
    {L"上がった", L"올랐다", L""},
    {L"倒した", L"쓰러뜨렸다", L""},
    {L"現れた", L"나타났다", L""},
    {L"逃げる", L"도망친다", L""},
    {L"戦う", L"싸운다", L""},
    {L"行こう", L"가자", L""},
    {L"大丈夫", L"괜찮아", L""},
    {L"どうした", L"무슨 일이야", L""},
    {L"私", L"나", L""},
    {L"僕", L"나", L""},
    {L"あなた", L"당신", L""},
    {L"しますか", L"할까요", L""},
    {L"ですか", L"입니까", L""},
    {L"ますか", L"습니까", L""},
    {L"です", L"입니다", L""},
    {L"ます", L"습니다", L""},
    {L"何", L"무엇", L""},
};

// Korean particles after a word: the first form follows a vowel, the second a final consonant.
// Two of them leave a doubled space, as real engines do.
struct Particle {
    wchar_t ja;
    std::wstring_view afterVowel;
    std::wstring_view afterConsonant;
    std::wstring_view gap;
};
const Particle kParticles[] = {
    {L'は', L"는", L"은", L"  "},    {L'を', L"를", L"을", L"  "}, {L'が', L"가", L"이", L" "},
    {L'と', L"와", L"과", L" "},     {L'の', L"의", L"의", L" "},  {L'に', L"에", L"에", L" "},
    {L'で', L"에서", L"에서", L" "}, {L'も', L"도", L"도", L" "},  {L'へ', L"로", L"로", L" "},
};

// Hiragana U+3041..U+3096 spelt in Hangul; '*' marks the kana that change their neighbour.
constexpr std::wstring_view kKana =
    L"아아이이우우에에오오카가키기쿠구케게코고사자시지스즈세제소조타다치지*츠즈테데토도나니누네"
    L"노하바파히비피후부푸헤베페호보포마미무메모*야*유*요라리루레로와와이에오*부카케";
static_assert(kKana.size() == 0x3096 - 0x3041 + 1);

// Half-width U+FF61..U+FF9D as their full-width forms.
constexpr std::wstring_view kHalfWidth =
    L"。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホ"
    L"マミムメモヤユヨラリルレロワン";
static_assert(kHalfWidth.size() == 0xFF9D - 0xFF61 + 1);

constexpr wchar_t kHangulBase = 0xAC00;
constexpr int kJongCount = 28, kJungCount = 21;
constexpr int kJungA = 0, kJungYa = 2, kJungO = 8, kJungYo = 12, kJungU = 13, kJungYu = 17,
              kJungI = 20;
constexpr int kChoJ = 12, kChoJJ = 13, kChoCh = 14;
constexpr int kJongN = 4, kJongS = 19;

bool IsSyllable(wchar_t c) {
    return c >= kHangulBase && c <= 0xD7A3;
}
int Cho(wchar_t c) {
    return (c - kHangulBase) / (kJungCount * kJongCount);
}
int Jung(wchar_t c) {
    return (c - kHangulBase) / kJongCount % kJungCount;
}
int Jong(wchar_t c) {
    return (c - kHangulBase) % kJongCount;
}
wchar_t Compose(int cho, int jung, int jong) {
    return static_cast<wchar_t>(kHangulBase + (cho * kJungCount + jung) * kJongCount + jong);
}

bool IsHiragana(wchar_t c) {
    return c >= 0x3041 && c <= 0x3096;
}
bool IsKatakana(wchar_t c) {
    return (c >= 0x30A1 && c <= 0x30F6) || c == 0x30FC;
}
bool IsKanji(wchar_t c) {
    return c >= 0x4E00 && c <= 0x9FFF;
}

bool Voiceable(wchar_t c) {
    if (c >= 0x30AB && c <= 0x30C1) return (c - 0x30AB) % 2 == 0;  // カ..チ
    if (c == 0x30C4 || c == 0x30C6 || c == 0x30C8) return true;    // ツ テ ト
    return c >= 0x30CF && c <= 0x30DB && (c - 0x30CF) % 3 == 0;    // ハ..ホ
}

// Half-width katakana to full width, folding the separate voicing marks into their base.
std::wstring Widen(const std::wstring& in) {
    std::wstring out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        wchar_t c = in[i];
        if (c >= 0xFF61 && c <= 0xFF9D)
            c = kHalfWidth[c - 0xFF61];
        else if (c == 0xFF9E || c == 0xFF9F)
            continue;  // a mark with nothing to join
        if (i + 1 < in.size() && (in[i + 1] == 0xFF9E || in[i + 1] == 0xFF9F)) {
            bool semi = in[i + 1] == 0xFF9F;
            bool hRow = c >= 0x30CF && c <= 0x30DB && (c - 0x30CF) % 3 == 0;
            if (!semi && c == 0x30A6)
                c = 0x30F4;
            else if (!semi && Voiceable(c))
                c = static_cast<wchar_t>(c + 1);
            else if (semi && hRow)
                c = static_cast<wchar_t>(c + 2);
            ++i;
        }
        out.push_back(c);
    }
    return out;
}

// Spells one kana in Hangul, folding small kana and the moraic n and tsu into the syllable
// before them.
void SpellKana(wchar_t c, std::wstring& out) {
    if (c == 0x30FC) return;  // long vowel mark: Korean spelling drops it
    if (c >= 0x30A1 && c <= 0x30F6) c = static_cast<wchar_t>(c - 0x60);
    const wchar_t h = kKana[c - 0x3041];
    if (h != L'*') {
        out.push_back(h);
        return;
    }
    wchar_t* prev =
        (!out.empty() && IsSyllable(out.back()) && Jong(out.back()) == 0) ? &out.back() : nullptr;
    switch (c) {
        case L'っ':
            if (prev) *prev = Compose(Cho(*prev), Jung(*prev), kJongS);
            return;
        case L'ん':
            if (prev)
                *prev = Compose(Cho(*prev), Jung(*prev), kJongN);
            else
                out.push_back(L'응');
            return;
        default: {  // ゃ ゅ ょ
            const int ya = c == L'ゃ' ? kJungYa : c == L'ゅ' ? kJungYu : kJungYo;
            if (prev && Jung(*prev) == kJungI) {
                int cho = Cho(*prev);
                bool plain = cho == kChoJ || cho == kChoJJ || cho == kChoCh;
                int jung = plain ? (ya == kJungYa ? kJungA : ya == kJungYu ? kJungU : kJungO) : ya;
                *prev = Compose(cho, jung, 0);
            } else {
                out.push_back(c == L'ゃ' ? L'야' : c == L'ゅ' ? L'유' : L'요');
            }
        }
    }
}

const std::vector<const Phrase*>& PhrasesLongestFirst() {
    static const std::vector<const Phrase*> sorted = [] {
        std::vector<const Phrase*> v;
        for (const Phrase& p : kPhrases) v.push_back(&p);
        std::stable_sort(v.begin(), v.end(), [](const Phrase* a, const Phrase* b) {
            return a->ja.size() > b->ja.size();
        });
        return v;
    }();
    return sorted;
}

std::wstring TranslateRun(const std::wstring& raw) {
    const std::wstring text = Widen(raw);
    std::wstring out;
    bool afterWord = false;  // a particle may follow
    wchar_t wordEnd = 0;     // last syllable of that word, for the particle's form
    std::size_t i = 0;
    while (i < text.size()) {
        const std::wstring_view rest(text.data() + i, text.size() - i);
        const Phrase* hit = nullptr;
        for (const Phrase* p : PhrasesLongestFirst()) {
            if (rest.substr(0, p->ja.size()) == p->ja) {
                hit = p;
                break;
            }
        }
        if (hit) {
            out += hit->ko;
            out += hit->note;
            afterWord = true;
            wordEnd = hit->ko.back();
            i += hit->ja.size();
            continue;
        }
        const wchar_t c = text[i];
        if (afterWord) {
            auto p = std::find_if(std::begin(kParticles), std::end(kParticles),
                                  [c](const Particle& q) { return q.ja == c; });
            if (p != std::end(kParticles)) {
                bool consonant = IsSyllable(wordEnd) && Jong(wordEnd) != 0;
                out += consonant ? p->afterConsonant : p->afterVowel;
                out += p->gap;
                afterWord = false;
                ++i;
                continue;
            }
        }
        if (IsKatakana(c)) {
            while (i < text.size() && IsKatakana(text[i])) SpellKana(text[i++], out);
            afterWord = true;
            wordEnd = out.empty() ? 0 : out.back();
            continue;
        }
        afterWord = false;
        ++i;
        if (IsHiragana(c)) {
            SpellKana(c, out);
        } else if (c == L'、') {
            out += L" ,";
        } else if (c == L'。') {
            out += L'.';
            if (i < text.size()) out += L'\u3000';
        } else if (c == L'「') {
            out += L"「 ";
        } else if (c == L'」') {
            out += L" 」";
        } else if (c == L'・') {
            out += L' ';
        } else {
            out += c;  // kanji and symbols go over as they are, if the code page has them
            if (IsKanji(c)) {
                afterWord = true;
                wordEnd = 0;
            }
        }
    }
    return out;
}

bool IsLeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool IsTrailByte(unsigned char b) {
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

std::wstring FromCodePage(UINT cp, const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(std::max(n, 0)), L'\0');
    if (n > 0) MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string ToCodePage(UINT cp, const std::wstring& w) {
    if (w.empty()) return {};
    BOOL used = FALSE;
    int n =
        WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, "?", &used);
    std::string s(static_cast<std::size_t>(std::max(n, 0)), '\0');
    if (n > 0)
        WideCharToMultiByte(cp, 0, w.data(), static_cast<int>(w.size()), s.data(), n, "?", &used);
    return s;
}

}  // namespace

std::string DemoTranslate(const std::string& sjis) {
    std::string out;
    out.reserve(sjis.size() * 2);
    std::size_t i = 0;
    while (i < sjis.size()) {
        if (static_cast<unsigned char>(sjis[i]) < 0x80) {
            out.push_back(sjis[i++]);
            continue;
        }
        // A run of Shift-JIS characters; a trail byte may lie in the ASCII range.
        std::size_t start = i;
        while (i < sjis.size() && static_cast<unsigned char>(sjis[i]) >= 0x80) {
            bool pair = IsLeadByte(static_cast<unsigned char>(sjis[i])) && i + 1 < sjis.size() &&
                        IsTrailByte(static_cast<unsigned char>(sjis[i + 1]));
            i += pair ? 2 : 1;
        }
        out += ToCodePage(949, TranslateRun(FromCodePage(932, sjis.substr(start, i - start))));
    }
    return out;
}

}  // namespace standin
