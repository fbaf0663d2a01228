// The dictionary's encoders for native programs (tests, fuzz targets, benchmarks), on glibc's
// iconv: a character without a form in the code page fails the conversion.
#pragma once

#include <iconv.h>

#include <cerrno>
#include <memory>
#include <string>
#include <string_view>

#include "dictionary.h"

namespace mirelo::dict::test {

class IconvEncoder {
  public:
    explicit IconvEncoder(const char* to, const char* from = "UTF-8") : cd_(iconv_open(to, from)) {}
    ~IconvEncoder() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    IconvEncoder(const IconvEncoder&) = delete;
    IconvEncoder& operator=(const IconvEncoder&) = delete;

    bool operator()(std::string_view utf8, std::string& out) {
        out.clear();
        if (cd_ == reinterpret_cast<iconv_t>(-1)) return false;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(utf8.data());
        size_t inLeft = utf8.size();
        char buf[256];
        while (inLeft > 0) {
            char* o = buf;
            size_t oLeft = sizeof buf;
            const size_t r = iconv(cd_, &in, &inLeft, &o, &oLeft);
            out.append(buf, static_cast<size_t>(o - buf));
            if (r == static_cast<size_t>(-1) && errno != E2BIG) return false;
        }
        return true;
    }

  private:
    iconv_t cd_;
};

// One pair of converters shared by everything in the program; not for concurrent use.
inline const TextEncoders& Encoders() {
    static IconvEncoder sjis("CP932");
    static IconvEncoder cp949("CP949");
    static IconvEncoder fromSjis("UTF-8", "CP932");
    static IconvEncoder fromCp949("UTF-8", "CP949");
    static const TextEncoders encoders{
        [](std::string_view u, std::string& o) { return sjis(u, o); },
        [](std::string_view u, std::string& o) { return cp949(u, o); },
        [](std::string_view b, std::string& o) { return fromSjis(b, o); },
        [](std::string_view b, std::string& o) { return fromCp949(b, o); }};
    return encoders;
}

// Converts a UTF-8 test text to a code page, for building inputs and expectations.
inline std::string Sjis(std::string_view utf8) {
    std::string out;
    Encoders().toShiftJis(utf8, out);
    return out;
}
inline std::string Cp949(std::string_view utf8) {
    std::string out;
    Encoders().toCp949(utf8, out);
    return out;
}

// A dictionary compiled from one file's text.
inline std::unique_ptr<Dictionary> CompileText(std::string_view text,
                                               std::vector<Problem>* problems = nullptr,
                                               std::string name = "test.txt") {
    const SourceFile file{std::move(name), text};
    return Dictionary::Compile(std::span(&file, 1), Encoders(), problems);
}

}  // namespace mirelo::dict::test
