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
// Version 2 ("orv-ledger-event 2") is the form of an event that came through a station's spool:
// the same fields followed by event_id, station_sequence and arrived_utc. An event without them
// keeps version 1, so one event has one form.
//
// The hash of an event is SHA-256 over the 64 ASCII characters of the previous event's hash (hex,
// lower case; 64 zeros for event 1) followed by the canonical form, written as 64 lower-case hex
// characters.
#include "ledger/event_fields.h"
#include "ledger/ledger.h"

#include <openssl/evp.h>

#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <optional>

namespace orv::ledger {
namespace {

constexpr std::string_view kFormHeader1 = "orv-ledger-event 1\n";
constexpr std::string_view kFormHeader2 = "orv-ledger-event 2\n";

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
    const bool spooled = detail::hasSpoolFields(event);
    std::string form(spooled ? kFormHeader2 : kFormHeader1);
    const std::size_t fields = spooled ? detail::kFields.size() : detail::kFieldsOfForm1;
    for (std::size_t i = 0; i < fields; ++i) {
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

std::optional<Event> parseCanonicalForm(std::string_view form, std::string& error)
{
    const bool spooled = form.starts_with(kFormHeader2);
    if (!spooled && !form.starts_with(kFormHeader1)) {
        error = "it does not start with the line \"orv-ledger-event 1\" or \"orv-ledger-event 2\"";
        return std::nullopt;
    }
    form.remove_prefix(kFormHeader1.size());
    Event event;
    const std::size_t fields = spooled ? detail::kFields.size() : detail::kFieldsOfForm1;
    for (std::size_t i = 0; i < fields; ++i) {
        const detail::FieldInfo& field = detail::kFields[i];
        const std::string name(field.name);
        if (!form.starts_with(field.name) || form.size() == field.name.size() || form[field.name.size()] != ':') {
            error = "field " + std::to_string(i + 1) + " is not " + name;
            return std::nullopt;
        }
        form.remove_prefix(field.name.size() + 1);
        // The length in plain decimal: "07" or "+7" would give a second form of the same event.
        const std::size_t colon = form.find(':');
        const std::string_view lengthText = form.substr(0, colon);
        const std::optional<std::int64_t> length =
            colon == std::string_view::npos ? std::nullopt : detail::parseInteger(lengthText);
        if (!length || *length < 0 || std::to_string(*length) != lengthText) {
            error = "the length of " + name + " is not a plain decimal number followed by ':'";
            return std::nullopt;
        }
        form.remove_prefix(colon + 1);
        if (static_cast<std::uint64_t>(*length) >= form.size() || form[static_cast<std::size_t>(*length)] != '\n') {
            error = "the value of " + name + " does not end with a line end after its " + std::to_string(*length) +
                    " bytes";
            return std::nullopt;
        }
        const std::string_view value = form.substr(0, static_cast<std::size_t>(*length));
        form.remove_prefix(value.size() + 1);
        const bool absent = !detail::isTextKind(field.kind) && field.kind != detail::FieldKind::Integer && value.empty();
        if (!detail::isTextKind(field.kind) && !absent) {
            const std::optional<std::int64_t> number = detail::parseInteger(value);
            if (!number || std::to_string(*number) != value) {
                error = "its " + name + " is not a number in plain decimal";
                return std::nullopt;
            }
        }
        if (!detail::setColumnText(event, i, absent ? std::nullopt : std::optional<std::string_view>(value))) {
            error = "its " + name + " is out of range";
            return std::nullopt;
        }
    }
    if (!form.empty()) {
        error = "there is more after its last field";
        return std::nullopt;
    }
    // Version 2 only with all of a spool's fields: otherwise the event's form would be another.
    if (spooled && (event.eventId.empty() || !event.stationSequence || event.arrivedUtc.empty())) {
        error = "it is of version 2 without an event_id, a station_sequence and an arrived_utc";
        return std::nullopt;
    }
    return event;
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
