#include "demo.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

#include "code_pages.h"
#include "multibyte.h"

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
    {L"さあ", L"자", L""},
    {L"ようこそ", L"어서 오세요", L""},
    {L"ございます", L"입니다", L""},
    {L"どこだ", L"어디냐", L""},
    {L"今日", L"오늘", L""},
    {L"会いましょう", L"만납시다", L""},
    {L"彼女", L"그녀", L""},
    {L"言った", L"말했다", L""},
    {L"見た", L"보았다", L""},
};

// How a word's last syllable ends, which picks the particle's form.
enum class Ending { Vowel, Rieul, Consonant };

// Korean particles after a word. 으로/로 takes its vowel form after a final ㄹ too. Two of
// them leave a doubled space, as real engines do.
struct Particle {
    wchar_t ja;
    std::wstring_view afterVowel;
    std::wstring_view afterConsonant;
    bool rieulTakesVowelForm;
    std::wstring_view gap;
};
const Particle kParticles[] = {
    {L'は', L"는", L"은", false, L"  "},    {L'を', L"를", L"을", false, L"  "},
    {L'が', L"가", L"이", false, L" "},     {L'と', L"와", L"과", false, L" "},
    {L'の', L"의", L"의", false, L" "},     {L'に', L"에", L"에", false, L" "},
    {L'で', L"에서", L"에서", false, L" "}, {L'も', L"도", L"도", false, L" "},
    {L'へ', L"로", L"으로", true, L" "},
};

std::wstring_view FormAfter(const Particle& p, Ending end) {
    if (end == Ending::Consonant || (end == Ending::Rieul && !p.rieulTakesVowelForm))
        return p.afterConsonant;
    return p.afterVowel;
}

// Japanese forms whose Hanja CP949 holds only in the older form, sorted by the first of
// each pair.
constexpr std::wstring_view kOlderForms =
    L"与與両兩並竝乗乘乱亂亀龜争爭亜亞仏佛仮假会會伝傳体體併倂侠俠価價倹儉偽僞児兒党黨"
    L"内內写寫凛凜処處剣劍剤劑剰剩励勵労勞効效勧勸勲勳区區医醫単單即卽厳嚴参參双雙収收"
    L"叙敍号號呉吳咲笑営營嘘噓嘱囑団團囲圍図圖国國圏圈圧壓堕墮塁壘塩鹽増增壊壞壮壯声聲"
    L"壱壹売賣壷壺変變奥奧奨奬姫姬娯娛嬢孃学學宝寶実實寛寬寝寢対對寿壽専專将將尚尙尽盡"
    L"届屆属屬峡峽巌巖巣巢巻卷帯帶帰歸庁廳広廣廃廢弐貳弥彌強强弾彈当當径徑従從徳德徴徵"
    L"応應恋戀恵惠悦悅悩惱悪惡惨慘慎愼懐懷戦戰戸戶戻戾払拂抜拔択擇担擔拝拜拠據拡擴挙擧"
    L"挟挾捜搜掲揭掻搔揺搖摂攝撃擊撹攪数數斉齊斎齋断斷既旣旧舊昼晝暁曉暦曆曽曾条條来來"
    L"枢樞栄榮桜櫻桟棧桧檜検檢楼樓楽樂様樣権權横橫欧歐歓歡歩步歯齒歳歲歴歷残殘殴毆殻殼"
    L"毎每気氣没沒沢澤浄淨浅淺涙淚清淸渇渴済濟渉涉渋澁渓溪渕淵温溫湾灣湿濕満滿溌潑滝瀧"
    L"滞滯潜潛瀬瀨灯燈炉爐為爲焔焰焼燒犠犧状狀独獨狭狹猟獵献獻獣獸瑶瑤瓶甁畳疊痩瘦発發"
    L"盗盜県縣真眞研硏砕碎礼禮禅禪称稱税稅稲稻穂穗穏穩窃竊竜龍粋粹粛肅糸絲経經絵繪継繼"
    L"続續緑綠緒緖縁緣縦縱繊纖繋繫翻飜聡聰聴聽胆膽脱脫脳腦臓臟舗鋪茎莖荘莊莱萊蔵藏薫薰"
    L"薬藥薮藪虚虛虫蟲蚕蠶蛍螢蛮蠻蝉蟬装裝覚覺覧覽観觀触觸訳譯誉譽説說読讀謡謠譲讓賛贊"
    L"践踐躯軀転轉軽輕辞辭辺邊迩邇逓遞遅遲遥遙郎郞郷鄕酔醉醤醬醸釀釈釋鉄鐵鉱鑛銭錢鋭銳"
    L"鋳鑄錬鍊録錄鎮鎭関關閲閱闘鬪陥陷険險随隨隠隱雑雜霊靈青靑静靜頚頸頼賴顕顯飲飮餅餠"
    L"駅驛駆驅騒騷験驗髄髓髪髮鴎鷗鶏鷄麦麥麺麵黄黃黒黑黙默齢齡";
static_assert(kOlderForms.size() % 2 == 0);
static_assert([] {
    for (std::size_t i = 2; i < kOlderForms.size(); i += 2)
        if (kOlderForms[i - 2] >= kOlderForms[i]) return false;
    return true;
}());

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
constexpr int kJongN = 4, kJongL = 8, kJongS = 19;

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

Ending EndingOf(wchar_t syllable) {
    if (!IsSyllable(syllable) || Jong(syllable) == 0) return Ending::Vowel;
    return Jong(syllable) == kJongL ? Ending::Rieul : Ending::Consonant;
}

// A particle may follow a token of letters or digits, or a marker (which ends in '_').
bool EndsAsciiToken(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '&';
}

// Read in Korean: digits as Sino-Korean numbers (every round number ends in a consonant),
// letters by their names (엘, 엠, 엔, 알 have a final). Anything else, markers included,
// takes the vowel form.
Ending EndingOfAscii(char c) {
    const auto u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (std::string_view("036MN").find(u) != std::string_view::npos) return Ending::Consonant;
    if (std::string_view("178LR").find(u) != std::string_view::npos) return Ending::Rieul;
    return Ending::Vowel;
}

bool InCp949(wchar_t c) {
    std::string bytes;
    return mirelo::WideToCodePageExactly(mirelo::kCp949CodePage, std::wstring_view(&c, 1), bytes);
}

// An unknown kanji is left as Hanja, in its older form when CP949 holds only that one.
wchar_t HanjaOf(wchar_t kanji) {
    if (InCp949(kanji)) return kanji;
    std::size_t lo = 0, hi = kOlderForms.size() / 2;
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (kOlderForms[2 * mid] < kanji)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo < kOlderForms.size() / 2 && kOlderForms[2 * lo] == kanji) return kOlderForms[2 * lo + 1];
    return kanji;  // no Hanja: the conversion writes '?'
}

// What comes right after a word and its particle, which decides how the engine's note and
// the particle's gap are written.
enum class Next {
    Other,       // a word, a mark, the end of the line
    Space,       // a space that parts two words
    SpacedMark,  // a mark the engine writes with a space before it, " ," or " 」"
};

// One line's translation, fed ASCII bytes and Japanese runs in order.
class Translator {
  public:
    void Ascii(char c) {
        Flush(c == ' ' ? Next::Space : Next::Other);
        m_out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
        m_afterWord = EndsAsciiToken(c);
        m_ending = EndingOfAscii(c);
    }

    void Japanese(const std::wstring& raw);

    std::wstring Finish() {
        Flush(Next::Other);
        return std::move(m_out);
    }

  private:
    // A note between two words goes between two spaces, "word (note) next", so that a
    // clean-up removing it with the one space after it leaves the words apart; elsewhere it
    // sticks to its word. A gap that a space follows anyway is not written.
    void Flush(Next next) {
        const bool gap = next == Next::Other && !m_gap.empty();
        if (!m_note.empty()) {
            if (gap || next == Next::Space) m_out.push_back(L' ');
            m_out += m_note;
        }
        if (gap) m_out += m_gap;
        m_note = {};
        m_gap = {};
    }

    void Word(std::wstring_view ko, std::wstring_view note) {
        Flush(Next::Other);
        m_out += ko;
        m_note = note;
        m_afterWord = true;
        m_ending = EndingOf(ko.back());
    }

    bool TakeParticle(wchar_t c) {
        if (!m_afterWord) return false;
        auto p = std::find_if(std::begin(kParticles), std::end(kParticles),
                              [c](const Particle& q) { return q.ja == c; });
        if (p == std::end(kParticles)) return false;
        m_out += FormAfter(*p, m_ending);
        m_gap = p->gap;
        m_afterWord = false;
        return true;
    }

    std::wstring m_out;
    std::wstring_view m_note;  // of the last word, not written yet
    std::wstring_view m_gap;   // after the last particle, not written yet
    bool m_afterWord = false;  // a particle may follow
    Ending m_ending = Ending::Vowel;
};

void Translator::Japanese(const std::wstring& raw) {
    const std::wstring text = Widen(raw);
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
            Word(hit->ko, hit->note);
            i += hit->ja.size();
            continue;
        }
        const wchar_t c = text[i];
        if (TakeParticle(c)) {
            ++i;
            continue;
        }
        Flush(c == L'、' || c == L'」' ? Next::SpacedMark : c == L'・' ? Next::Space : Next::Other);
        if (IsKatakana(c)) {
            while (i < text.size() && IsKatakana(text[i])) SpellKana(text[i++], m_out);
            m_afterWord = true;
            m_ending = m_out.empty() ? Ending::Vowel : EndingOf(m_out.back());
            continue;
        }
        m_afterWord = false;
        ++i;
        if (IsHiragana(c)) {
            SpellKana(c, m_out);
        } else if (c == L'、') {
            m_out += L" ,";
        } else if (c == L'。') {
            m_out += L'.';
            if (i < text.size()) m_out += L'\u3000';
        } else if (c == L'「') {
            m_out += L"「 ";
        } else if (c == L'」') {
            m_out += L" 」";
        } else if (c == L'・') {
            m_out += L' ';
        } else if (IsKanji(c) || (c == L'々' && !m_out.empty() && IsKanji(m_out.back()))) {
            m_out += c == L'々' ? m_out.back() : HanjaOf(c);  // 々 repeats the kanji before it
            m_afterWord = true;
            m_ending = Ending::Vowel;  // its reading is not known
        } else {
            m_out += c;  // symbols go over as they are, if the code page has them
        }
    }
}

}  // namespace

std::string DemoTranslate(const std::string& sjis) {
    Translator translator;
    std::size_t i = 0;
    while (i < sjis.size()) {
        if (static_cast<unsigned char>(sjis[i]) < 0x80) {
            translator.Ascii(sjis[i++]);
            continue;
        }
        // A run of Shift-JIS characters; a trail byte may lie in the ASCII range.
        std::size_t start = i;
        while (i < sjis.size() && static_cast<unsigned char>(sjis[i]) >= 0x80) {
            bool pair = mirelo::text::IsShiftJisLead(static_cast<unsigned char>(sjis[i])) &&
                        i + 1 < sjis.size() &&
                        mirelo::text::IsShiftJisTrail(static_cast<unsigned char>(sjis[i + 1]));
            i += pair ? 2 : 1;
        }
        translator.Japanese(
            mirelo::CodePageToWide(mirelo::kShiftJisCodePage, sjis.substr(start, i - start)));
    }
    // ASCII goes through CP949 unchanged, so markers come out byte for byte.
    return mirelo::WideToCodePage(mirelo::kCp949CodePage, translator.Finish());
}

}  // namespace standin
