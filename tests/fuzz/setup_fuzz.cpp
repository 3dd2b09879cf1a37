// Arbitrary bytes as a setup file, and as the values of a form. Beyond not crashing, checks what
// the console relies on: a saved setup always loads, to exactly the form that was saved, whether
// that form came from reading a file or from what someone typed.

#include "lang/utf.h"
#include "persist/setup_document.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

using namespace orv;

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "setup_fuzz: %s\n", what);
        std::abort();
    }
}

void checkLoadsAsSaved(const SetupValues& form)
{
    const std::string saved = writeSetup(form);
    const SetupReadResult read = readSetup(saved);
    check(read.ok(), "a saved setup does not load");
    check(!read.fromGbk, "a saved setup is not read as UTF-8");
    check(read.elements.size() == kSetupPartCount, "a saved setup does not hold every element once");
    for (std::size_t i = 0; i < read.elements.size(); ++i) {
        check(read.elements[i].part == static_cast<SetupPart>(i), "a saved setup holds its elements out of order");
    }
    SetupValues loaded;
    applySetupElements(loaded, read.elements);
    check(loaded == form, "a saved setup loads to another form");
}

// The form as the console could hold it: integers from the first bytes, then the texts, cut at
// zero bytes. Texts hold whatever was typed, so any well-formed UTF-16 without U+0000.
SetupValues formFromBytes(std::string_view bytes)
{
    SetupValues form;
    std::size_t at = 0;
    const auto takeText = [&]() {
        if (at >= bytes.size()) {
            return std::u16string();
        }
        const std::size_t end = std::min(bytes.find('\0', at), bytes.size());
        const std::string_view piece = bytes.substr(at, end - at);
        at = end + 1;
        return utf::toUtf16(piece);
    };
    for (const SetupAttribute& a : setupAttributes()) {
        if (a.number) {
            std::int32_t value = 0;
            if (at + sizeof value <= bytes.size()) {
                std::memcpy(&value, bytes.data() + at, sizeof value);
                at += sizeof value;
            }
            form.*a.number = value;
        } else {
            form.*a.text = takeText();
        }
    }
    return form;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const SetupReadResult read = readSetup(bytes);
    check(read.ok() || read.elements.empty(), "a failed read hands out elements");
    check(read.ok() == read.message.empty(), "the message does not match the outcome");
    if (read.ok()) {
        SetupValues form;
        applySetupElements(form, read.elements);
        checkLoadsAsSaved(form);
    }

    checkLoadsAsSaved(formFromBytes(bytes));
    return 0;
}
