#include "filter_chain.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "filter_test_util.h"

namespace mirelo {
namespace {

using test::ExactText;
using test::Hex;

using Engine = std::function<std::string(const std::string&)>;

const Engine kIdentity = [](const std::string& text) { return text; };
// Writes notes of its own around the text, as a real engine does.
const Engine kNoting = [](const std::string& text) { return "[t] " + text + " (note)  end:"; };

constexpr ChainOptions kCombos[] = {{false, false}, {false, true}, {true, false}, {true, true}};

std::string Translate(FilterChain& chain, const std::string& source, const Engine& engine,
                      ChainOptions options) {
    ExactText src(source);
    const std::string escaped = chain.Escape(src.get(), options);
    ExactText output(engine(escaped));
    return chain.Finish(output.get(), options);
}

TEST(FilterChain, EachOptionComboAroundAnEngine) {
    struct {
        const char* source;
        const Engine* engine;
        const char* expected[4];  // in the order of kCombos
    } cases[] = {
        {"12:30 (x) \x81\x69y\x81\x6A",
         &kIdentity,
         {"12:30 (x) \xA3\xA8y\xA3\xA9", "12:30 (x) \xA3\xA8y\xA3\xA9",
          "12:30 (x) \xA3\xA8y\xA3\xA9", "12:30 (x) \xA3\xA8y\xA3\xA9"}},
        {"a  b (c)", &kIdentity, {"a  b (c)", "a b (c)", "a  b (c)", "a b (c)"}},
        {"_&065&_ _&163168&_",
         &kIdentity,
         {"_&065&_ \xA3\xA8", "_&065&_ \xA3\xA8", "A \xA3\xA8", "A \xA3\xA8"}},
        {"", &kIdentity, {"", "", "", ""}},
        {"a(b):c",
         &kNoting,
         {"[t] a(b):c (note)  end:", "[t] a(b):c (note) end:", "a(b):c  end", "a(b):c end"}},
        {"\x81\x4A<\x81\x5B>",
         &kNoting,
         {"[t] \xA1\xC8<\x81\x5B> (note)  end:", "[t] \xA1\xC8<\x81\x5B> (note) end:",
          "\xA1\xC8<\x81\x5B>  end", "\xA1\xC8<\x81\x5B> end"}},
    };
    FilterChain chain;
    for (const auto& c : cases) {
        for (size_t k = 0; k < std::size(kCombos); ++k) {
            const ChainOptions options = kCombos[k];
            EXPECT_EQ(Hex(Translate(chain, c.source, *c.engine, options)), Hex(c.expected[k]))
                << Hex(c.source) << " brackets " << options.removeBrackets << " spaces "
                << options.removeDupSpaces;
        }
    }
    EXPECT_EQ(chain.Capacity(), kWorkBufferBytes);  // nothing grew for short lines
}

TEST(FilterChain, AHundredKilobyteOutputIsProcessedWhole) {
    std::string output, withNotes, stripped;
    for (int k = 0; k < 5000; ++k) {
        output += "xy _&163168&_ (note)";
        withNotes += "xy \xA3\xA8 (note)";
        stripped += "xy \xA3\xA8 ";
    }
    FilterChain chain;
    for (const ChainOptions options : kCombos) {
        ExactText engineOutput(output);
        const std::string result = chain.Finish(engineOutput.get(), options);
        EXPECT_EQ(result, options.removeBrackets ? stripped : withNotes);
    }
    EXPECT_GE(chain.Capacity(), output.size() + 1);

    EXPECT_TRUE(chain.Complete());

    // Trimmed back to the escaped worst case of a 4096-byte line; short lines still right.
    chain.Trim();
    EXPECT_EQ(chain.Capacity(), 7u * 4096 + 1);
    EXPECT_STREQ(Translate(chain, "(a)", kIdentity, {true, true}).c_str(), "(a)");
}

// An engine that answers with the pointer it was given: the escaped form of a 4096-byte
// line must come back whole whether the buffers have just grown or just shrunk.
TEST(FilterChain, AnEchoedLongestLineSurvivesGrowingAndShrinking) {
    const ChainOptions options{true, true};
    const std::string parens(4096, '(');
    ExactText src(parens);
    const std::string big(300000, 'x');
    ExactText bigOutput(big);
    FilterChain chain;
    for (int round = 0; round < 2; ++round) {
        chain.Finish(bigOutput.get(), options);  // grows
        if (round == 1) chain.Trim();            // and shrinks again
        const char* escaped = chain.Escape(src.get(), options);
        ASSERT_EQ(std::strlen(escaped), 7u * 4096);
        EXPECT_EQ(std::string(chain.Finish(escaped, options)), parens) << "round " << round;
        EXPECT_TRUE(chain.Complete());
    }
}

TEST(FilterChain, TheLongestSourceFitsInItsWorstCase) {
    const ChainOptions options{true, false};
    FilterChain chain;
    const std::string colons(kMaxSourceBytes, ':');
    ExactText src(colons);
    EXPECT_EQ(std::strlen(chain.Escape(src.get(), options)), 7 * kMaxSourceBytes);
    EXPECT_EQ(Translate(chain, colons, kIdentity, options), colons);

    std::string symbols;
    for (size_t k = 0; k < kMaxSourceBytes / 2; ++k) symbols += "\x81\x69";
    std::string expected;
    for (size_t k = 0; k < kMaxSourceBytes / 2; ++k) expected += "\xA3\xA8";
    EXPECT_EQ(Translate(chain, symbols, kIdentity, options), expected);
}

// The user's replacements may make a line longer than the host's 4096 bytes.
TEST(FilterChain, ALongerSourceGrowsTheBuffersAndIsEscapedWhole) {
    FilterChain chain;
    const std::string colons(4096 + 900, ':');
    ExactText src(colons);
    const char* escaped = chain.Escape(src.get(), {true, false});
    EXPECT_EQ(std::strlen(escaped), 7u * (4096 + 900));
    EXPECT_TRUE(chain.Complete());
}

// An engine that hands back the very buffer it was given, or a caller that feeds a result
// back in, must not make a filter read the buffer it is writing.
TEST(FilterChain, TextsFromItsOwnBuffersAreSafeInput) {
    const char* source = "x  (a) \x81\x69 :y";
    for (const ChainOptions options : kCombos) {
        FilterChain reference;
        const std::string expected = Translate(reference, source, kIdentity, options);

        FilterChain chain;
        const char* escaped = chain.Escape(source, options);
        const char* result = chain.Finish(escaped, options);
        EXPECT_EQ(Hex(result), Hex(expected));

        const std::string again = chain.Escape(result, options);
        EXPECT_EQ(again, reference.Escape(expected.c_str(), options));
    }
}

TEST(FilterChain, NullCountsAsEmpty) {
    FilterChain chain;
    EXPECT_STREQ(chain.Escape(nullptr, {true, true}), "");
    EXPECT_STREQ(chain.Finish(nullptr, {true, true}), "");
}

}  // namespace
}  // namespace mirelo
