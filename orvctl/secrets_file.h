#pragma once
// --secrets-file: the passwords a command takes, as NAME=VALUE lines in a file, so that none of
// them has to stand on the command line where other users of the computer can read it.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orv::cli {

// The names a secrets file may use (ASCII case ignored): the new account password of passwd and
// the password fields of set wifi and set 4g, named as the records name them.
inline constexpr std::string_view kNewPasswordSecret = "new-password";
inline constexpr std::string_view kSecretNames[] = {kNewPasswordSecret, "wifiPassword", "apnPassword"};

struct SecretsFile
{
    std::vector<std::pair<std::string_view, std::string>> values; // name as in kSecretNames, value

    // Null when the file does not name it.
    const std::string* find(std::string_view name) const;
};

struct SecretsFileRead
{
    std::optional<SecretsFile> file;
    std::string error; // when file is empty; never quotes a value
};

// One NAME=VALUE a line; the value is everything after the first '=', as it is. LF or CR LF line
// ends, a UTF-8 byte order mark, empty lines and lines starting with '#' are fine; an unknown
// name, a name given twice or a line without '=' is an error.
SecretsFileRead parseSecretsFile(std::string_view bytes);

} // namespace orv::cli
