#pragma once
// The setup file: the console's form values as an XML document. This layer knows values, not
// widgets: the console copies controls into SetupValues to save, and applies the elements that
// reading returns, in document order, to its controls.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// Integers are combo rows (-1: no row selected) or check states; texts are the controls' texts
// as they stand, without trimming or checking.
struct SetupValues
{
    // "language"
    int language = 0;
    // "camera"
    std::u16string cameraIp;
    std::u16string cameraUser;
    std::u16string cameraPassword;
    // "funtion"
    int uIdentify = 0;
    // "server"
    int serverChoice = 0;
    std::u16string serverIp;
    std::u16string serverPort;
    std::u16string rtsId;
    std::u16string authCode;
    // "net4g"
    std::u16string apn;
    std::u16string apnUser;
    std::u16string apnPassword;
    // "wifi"
    std::u16string ssid;
    std::u16string wifiPassword;
    // "device"
    std::u16string deviceId;
    std::u16string policeId;
    std::u16string policeName;
    std::u16string companyId;
    std::u16string companyName;
    // "time"
    int summerTime = 0;
    int timeZone = 0;

    friend bool operator==(const SetupValues&, const SetupValues&) = default;
};

// The eight elements, in the order a saved file holds them.
enum class SetupPart : std::uint8_t { Language, Camera, Function, Server, Net4g, Wifi, Device, Time };
inline constexpr std::size_t kSetupPartCount = 8;

// Element name as it appears in the file ("funtion" is spelled so).
std::string_view setupElementName(SetupPart part);

// One attribute: exactly one of `number` and `text` is set.
struct SetupAttribute
{
    SetupPart part;
    std::string_view name;
    int SetupValues::*number;
    std::u16string SetupValues::*text;
};

// Every attribute, in the order of elements and, within one, the order in which they are written.
std::span<const SetupAttribute> setupAttributes();

// One known element of a file, as read. `values` holds that element's attributes (an absent
// integer is 0, an absent text empty); its other members stay at their defaults.
struct SetupElement
{
    SetupPart part;
    SetupValues values;
};

// Copies the attributes of the element's part, and only those, into `form`.
void applySetupElement(SetupValues& form, const SetupElement& element);

enum class SetupReadError : std::uint8_t {
    None,
    Missing,    // no such file
    Unreadable, // exists but cannot be read
    NotXml,     // not a well-formed document
    NoRoot,     // well-formed, but without any element
};

struct SetupReadResult
{
    SetupReadError error = SetupReadError::None;
    int line = 0;         // where the document stops being well-formed (NotXml)
    std::string message;  // English, for logs and the command line; empty when read
    bool fromGbk = false; // the file was not UTF-8 and was read as GBK
    // The bytes read, as they were: what the elements come from, and what names this setup (its
    // hash), so that nothing reads the file a second time.
    std::string bytes;
    // The root's known child elements in document order; duplicates appear each time.
    std::vector<SetupElement> elements;

    bool ok() const { return error == SetupReadError::None; }
};

// The whole document as UTF-8 bytes: declaration, root "root", the eight elements in order.
std::string writeSetup(const SetupValues& values);

// Reads a document whatever its root's name; compares element names exactly and skips the
// unknown ones. Bytes that are not valid UTF-8 are read as GBK.
SetupReadResult readSetup(std::string_view bytes);
SetupReadResult loadSetupFile(const std::filesystem::path& file);

// Folds every element into `form`, in order.
void applySetupElements(SetupValues& form, std::span<const SetupElement> elements);

// Writes the document beside the file and renames it over; false (and the old file untouched)
// when it could not be written. A new file is its owner's only (it holds passwords); a file
// replaced keeps its permissions.
bool saveSetupFile(const std::filesystem::path& file, const SetupValues& values);

} // namespace orv
