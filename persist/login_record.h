#pragma once
// The remembered login, kept byte for byte in the settings file: 168 bytes, little-endian
// integers, UTF-16LE text in fixed-width zero-padded fields.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

class LoginRecord
{
public:
    static constexpr std::size_t kSize = 168;

    enum class Kind : std::uint8_t {
        Text, // UTF-16LE units; a text that fills the field has no terminating zero
        U32,
        I32,
    };

    struct Field
    {
        std::string_view name;
        std::size_t offset;
        std::size_t width; // bytes
        Kind kind;
    };

    static constexpr Field kIp{"ip", 0, 32, Kind::Text};
    static constexpr Field kPort{"port", 32, 4, Kind::U32};
    static constexpr Field kUser{"user", 36, 64, Kind::Text};
    static constexpr Field kPassword{"password", 100, 64, Kind::Text};
    static constexpr Field kHold{"hold", 164, 4, Kind::I32};
    static constexpr std::array kFields{kIp, kPort, kUser, kPassword, kHold};

    // The first-run record.
    static constexpr std::u16string_view kDefaultIp = u"192.168.2.158";
    static constexpr std::u16string_view kDefaultUser = u"admin";
    static constexpr std::u16string_view kDefaultPassword = u"wrenq";
    static constexpr std::uint32_t kDefaultPort = 80;
    // The camera port, written into the record at every login; nothing reads it back.
    static constexpr std::uint32_t kLoginPort = 19436;

    std::array<std::uint8_t, kSize> bytes{};

    // Up to the first zero unit, never past the field.
    std::u16string text(const Field& f) const;
    // Bounded copy: stops at a zero unit in `value`, pads with zero units, cuts a longer text to
    // the field's width.
    void setText(const Field& f, std::u16string_view value);
    std::uint32_t u32(const Field& f) const;
    void setU32(const Field& f, std::uint32_t value);

    std::u16string ip() const { return text(kIp); }
    std::u16string user() const { return text(kUser); }
    std::u16string password() const { return text(kPassword); }
    std::uint32_t port() const { return u32(kPort); }
    std::int32_t hold() const { return static_cast<std::int32_t>(u32(kHold)); }

    void setIp(std::u16string_view v) { setText(kIp, v); }
    void setUser(std::u16string_view v) { setText(kUser, v); }
    void setPassword(std::u16string_view v) { setText(kPassword, v); }
    void setPort(std::uint32_t v) { setU32(kPort, v); }
    void setHold(std::int32_t v) { setU32(kHold, static_cast<std::uint32_t>(v)); }

    // Every byte of the record from the first-run values.
    void setDefaults();

    friend bool operator==(const LoginRecord&, const LoginRecord&) = default;
};

} // namespace orv
