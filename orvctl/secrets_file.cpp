#include "orvctl/secrets_file.h"

#include "link/utf.h"

namespace orv::cli {
namespace {

std::string nameList()
{
    std::string list;
    for (const std::string_view name : kSecretNames) {
        list += list.empty() ? "" : ", ";
        list += name;
    }
    return list;
}

} // namespace

const std::string* SecretsFile::find(std::string_view name) const
{
    for (const auto& [known, value] : values) {
        if (known == name) {
            return &value;
        }
    }
    return nullptr;
}

SecretsFileRead parseSecretsFile(std::string_view bytes)
{
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        bytes.remove_prefix(3);
    }
    SecretsFile file;
    int lineNumber = 0;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        std::string_view line = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        ++lineNumber;
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::string where = "line " + std::to_string(lineNumber);
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            return {std::nullopt, where + " is not NAME=VALUE"};
        }
        const std::string_view name = line.substr(0, equals);
        const std::string_view* known = nullptr;
        for (const std::string_view& candidate : kSecretNames) {
            if (utf::equalsIgnoreAsciiCase(utf::fromAscii(candidate), utf::toUtf16(name))) {
                known = &candidate;
            }
        }
        if (!known) {
            return {std::nullopt, where + ": unknown name \"" + std::string(name) + "\" (names: " + nameList() + ")"};
        }
        if (file.find(*known)) {
            return {std::nullopt, where + ": " + std::string(*known) + " is given twice"};
        }
        file.values.emplace_back(*known, std::string(line.substr(equals + 1)));
    }
    return {std::move(file), {}};
}

} // namespace orv::cli
