#include "persist/setup_document.h"

#include "link/gbk.h"
#include "link/utf.h"
#include "persist/atomic_file.h"
#include "persist/decimal_text.h"

#include <tinyxml2.h>

#include <array>
#include <cstring>

namespace orv {
namespace {

using V = SetupValues;

constexpr std::array<std::string_view, kSetupPartCount> kElementNames{
    "language", "camera", "funtion", "server", "net4g", "wifi", "device", "time",
};

constexpr SetupAttribute number(SetupPart part, std::string_view name, int V::*member)
{
    return {part, name, member, nullptr};
}

constexpr SetupAttribute text(SetupPart part, std::string_view name, std::u16string V::*member)
{
    return {part, name, nullptr, member};
}

using P = SetupPart;
const std::array kAttributes{
    number(P::Language, "choice_language", &V::language),
    text(P::Camera, "ip", &V::cameraIp),
    text(P::Camera, "username", &V::cameraUser),
    text(P::Camera, "password", &V::cameraPassword),
    number(P::Function, "uidentify", &V::uIdentify),
    number(P::Server, "choice_server", &V::serverChoice),
    text(P::Server, "ip", &V::serverIp),
    text(P::Server, "port", &V::serverPort),
    text(P::Server, "rtsid", &V::rtsId),
    text(P::Server, "authcode", &V::authCode),
    text(P::Net4g, "apn", &V::apn),
    text(P::Net4g, "username", &V::apnUser),
    text(P::Net4g, "password", &V::apnPassword),
    text(P::Wifi, "ssid", &V::ssid),
    text(P::Wifi, "password", &V::wifiPassword),
    text(P::Device, "deviceid", &V::deviceId),
    text(P::Device, "policeid", &V::policeId),
    text(P::Device, "policename", &V::policeName),
    text(P::Device, "companyid", &V::companyId),
    text(P::Device, "companyname", &V::companyName),
    number(P::Time, "summertime", &V::summerTime),
    number(P::Time, "choice_timezone", &V::timeZone),
};

SetupElement readElement(SetupPart part, const tinyxml2::XMLElement& element)
{
    SetupElement result{part, {}};
    for (const SetupAttribute& a : kAttributes) {
        if (a.part != part) {
            continue;
        }
        const std::string name(a.name);
        const char* value = element.Attribute(name.c_str());
        if (a.number) {
            result.values.*a.number = value ? leadingDecimal(std::string_view(value)) : 0;
        } else {
            result.values.*a.text = value ? utf::toUtf16(value) : std::u16string();
        }
    }
    return result;
}

SetupReadResult failure(SetupReadError error, std::string message, int line = 0)
{
    SetupReadResult result;
    result.error = error;
    result.message = std::move(message);
    result.line = line;
    return result;
}

} // namespace

std::string_view setupElementName(SetupPart part)
{
    return kElementNames[static_cast<std::size_t>(part)];
}

std::span<const SetupAttribute> setupAttributes()
{
    return kAttributes;
}

void applySetupElement(SetupValues& form, const SetupElement& element)
{
    for (const SetupAttribute& a : kAttributes) {
        if (a.part != element.part) {
            continue;
        }
        if (a.number) {
            form.*a.number = element.values.*a.number;
        } else {
            form.*a.text = element.values.*a.text;
        }
    }
}

void applySetupElements(SetupValues& form, std::span<const SetupElement> elements)
{
    for (const SetupElement& e : elements) {
        applySetupElement(form, e);
    }
}

std::string writeSetup(const SetupValues& values)
{
    tinyxml2::XMLDocument doc;
    doc.InsertEndChild(doc.NewDeclaration()); // version "1.0", encoding "UTF-8"
    tinyxml2::XMLElement* root = doc.NewElement("root");
    doc.InsertEndChild(root);
    for (std::size_t p = 0; p < kSetupPartCount; ++p) {
        const auto part = static_cast<SetupPart>(p);
        tinyxml2::XMLElement* element = doc.NewElement(std::string(setupElementName(part)).c_str());
        root->InsertEndChild(element);
        for (const SetupAttribute& a : kAttributes) {
            if (a.part != part) {
                continue;
            }
            const std::string name(a.name);
            if (a.number) {
                element->SetAttribute(name.c_str(), values.*a.number);
            } else {
                element->SetAttribute(name.c_str(), utf::toUtf8(values.*a.text).c_str());
            }
        }
    }
    tinyxml2::XMLPrinter printer;
    doc.Print(&printer);
    // Reading turns a carriage return in an attribute into a line feed, as XML wants; only a
    // character reference keeps it. The printer writes none of its own, so each one is in a value.
    const std::string_view printed(printer.CStr(), static_cast<std::size_t>(printer.CStrSize() - 1));
    std::string out;
    out.reserve(printed.size());
    for (const char c : printed) {
        if (c == '\r') {
            out += "&#13;";
        } else {
            out += c;
        }
    }
    return out;
}

SetupReadResult readSetup(std::string_view bytes)
{
    SetupReadResult result;
    result.bytes = bytes;
    std::string converted;
    if (utf::firstInvalidUtf8(bytes) != bytes.npos) {
        // Older installations wrote the legacy Chinese code page under the same UTF-8 declaration.
        converted = utf::toUtf8(gbkToUtf16(bytes));
        bytes = converted;
        result.fromGbk = true;
    }
    tinyxml2::XMLDocument doc;
    const tinyxml2::XMLError parsed = doc.Parse(bytes.data(), bytes.size());
    if (parsed == tinyxml2::XML_ERROR_EMPTY_DOCUMENT) {
        return failure(SetupReadError::NoRoot, "the file holds no XML element");
    }
    if (parsed != tinyxml2::XML_SUCCESS) {
        const int line = doc.ErrorLineNum();
        return failure(SetupReadError::NotXml,
                       "not a well-formed XML document (line " + std::to_string(line) + ": " +
                           tinyxml2::XMLDocument::ErrorIDToName(parsed) + ")",
                       line);
    }
    const tinyxml2::XMLElement* root = doc.RootElement();
    if (!root) {
        return failure(SetupReadError::NoRoot, "the file holds no XML element");
    }
    for (const tinyxml2::XMLElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
        for (std::size_t p = 0; p < kSetupPartCount; ++p) {
            if (kElementNames[p] == e->Name()) {
                result.elements.push_back(readElement(static_cast<SetupPart>(p), *e));
                break;
            }
        }
    }
    return result;
}

SetupReadResult loadSetupFile(const std::filesystem::path& file)
{
    const FileContents contents = readWholeFile(file);
    switch (contents.outcome) {
        case ReadOutcome::Read:
            return readSetup(contents.bytes);
        case ReadOutcome::Missing:
            return failure(SetupReadError::Missing, "no such file");
        case ReadOutcome::Failed:
            break;
    }
    return failure(SetupReadError::Unreadable, "the file cannot be read");
}

bool saveSetupFile(const std::filesystem::path& file, const SetupValues& values)
{
    // It holds the camera's, the Wi-Fi's and the APN's passwords: a new one is its owner's only.
    return replaceFileContents(file, writeSetup(values), {}, NewFileAccess::OwnerOnly);
}

} // namespace orv
