#include "user_dictionary.h"

#include <new>

namespace mirelo {
namespace {

// What the pass buffers keep between lines; more is given back after an outsized one.
constexpr size_t kKeptBufferBytes = 64 * 1024;

}  // namespace

UserDictionary::UserDictionary(HMODULE module) : watch_(dict::FolderBesideModule(module)) {
    Refresh();
}

bool UserDictionary::Refresh() {
    if (watch_.folder().empty() || !watch_.Changed()) return false;
    dict::FolderDictionary loaded = watch_.Load();
    // Out of memory while reading: keep what we have until the folder changes again.
    if (!loaded.dictionary && loaded.files > 0) return false;
    const bool had = dictionary_ != nullptr;
    dictionary_ = std::move(loaded.dictionary);
    return had || dictionary_ != nullptr;
}

const char* UserDictionary::Run(dict::Pass pass, dict::Kind kind, const char* text,
                                std::string& buffer) noexcept {
    if (dictionary_->Count(kind) == 0) return text;
    try {
        // A line's worth up front, so that most lines need one run.
        if (buffer.size() < 4096) buffer.resize(4096);
        return dict::RunPass(*dictionary_, pass, text, buffer);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

const char* UserDictionary::BeforeEngine(const char* source) {
    if (!dictionary_) return source;
    const char* text = Run(&dict::Dictionary::ApplyPre, dict::Kind::Pre, source, a_);
    if (text == nullptr) return nullptr;
    return Run(&dict::Dictionary::ProtectNames, dict::Kind::Name, text,
               text == a_.data() ? b_ : a_);
}

const char* UserDictionary::AfterEngine(const char* translation) {
    if (!dictionary_) return translation;
    const char* text = Run(&dict::Dictionary::RestoreNames, dict::Kind::Name, translation, a_);
    if (text == nullptr) return nullptr;
    return Run(&dict::Dictionary::ApplyPost, dict::Kind::Post, text, text == a_.data() ? b_ : a_);
}

void UserDictionary::Trim() {
    if (a_.capacity() > kKeptBufferBytes) std::string().swap(a_);
    if (b_.capacity() > kKeptBufferBytes) std::string().swap(b_);
}

}  // namespace mirelo
