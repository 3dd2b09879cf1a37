// The canonical form of an event and the SHA-256 chain over it.
//
// The canonical form, which anyone holding an export can recompute:
//
//   orv-ledger-event 1\n
//   number:<length>:<value>\n
//   time_utc:<length>:<value>\n
//   ... every field below, in this order ...
//
// Fields, in order: number, time_utc, utc_offset_minutes, station, operator, tool, tool_version,
// kind, device_id, where, officer_before, officer_after, unit_before, unit_after, setup_name,
// setup_sha256, groups, result, differences, clock_offset_seconds (the CSV export's column names).
// <length> is the value's length in bytes, in decimal; <value> is the field's UTF-8 bytes as they
// are, newlines included. Numbers are plain decimal ("-480", "0"); an absent clock offset is the
// empty value ("clock_offset_seconds:0:\n"). The first line names the form's version: a form that
// ever changes gets a new version, so old events still hash as they did.
//
// The hash of an event is SHA-256 over the 64 ASCII characters of the previous event's hash (hex,
// lower case; 64 zeros for event 1) followed by the canonical form, written as 64 lower-case hex
// characters.
#include "ledger/event_fields.h"
#include "ledger/ledger.h"

#include <openssl/evp.h>

#include <cstdlib>
#include <initializer_list>
#include <memory>

namespace orv::ledger {
namespace {

constexpr std::string_view kFormHeader = "orv-ledger-event 1\n";

struct DigestContextFree
{
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

std::string hexOf(const unsigned char* bytes, unsigned length)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2u);
    for (unsigned i = 0; i < length; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 0x0F];
    }
    return hex;
}

// SHA-256 over the parts in order. Aborting is the only answer to libcrypto refusing SHA-256,
// which only a broken installation does: a ledger without hashes must not be written.
std::string sha256OfParts(std::initializer_list<std::string_view> parts)
{
    const std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    bool ok = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
    for (const std::string_view part : parts) {
        ok = ok && EVP_DigestUpdate(context.get(), part.data(), part.size()) == 1;
    }
    ok = ok && EVP_DigestFinal_ex(context.get(), digest, &length) == 1 && length == 32;
    if (!ok) {
        std::abort();
    }
    return hexOf(digest, length);
}

} // namespace

std::string canonicalForm(const Event& event)
{
    std::string form(kFormHeader);
    for (std::size_t i = 0; i < detail::kFields.size(); ++i) {
        const std::string value = detail::fieldText(event, i).value_or(std::string());
        form += detail::kFields[i].name;
        form += ':';
        form += std::to_string(value.size());
        form += ':';
        form += value;
        form += '\n';
    }
    return form;
}

std::string eventHash(std::string_view previousHash, const Event& event)
{
    return sha256OfParts({previousHash, canonicalForm(event)});
}

std::string sha256Hex(std::string_view bytes)
{
    return sha256OfParts({bytes});
}

} // namespace orv::ledger
