#pragma once
// Sections of orvctl's help that more than one help text shows: orvctl's own and that of set,
// passwd, ledger who and ledger history.

#include <string_view>

namespace orv::cli {

inline constexpr std::string_view kFields = R"(Fields for set (names ignore case; other accepted names in brackets):
  platform   serverAddress [ip, address, server], serverPort [port]  (camera on platform 0)
             rtsId, rtsCode [authcode, code]                         (camera on platform 1)
  4g         apn, apnUser [username, user], apnPassword [password]
  wifi       ssid, wifiPassword [password]
  device     policeId [officerid], policeName [officername], deviceId, companyId [unitid],
             companyName [unitname], screenPsk [psk]
  time       timeZone [zone, choice_timezone]: a row 0..24 or its name, UTC-12:00 (row 0) to
             UTC+12:00 (row 24), case ignored; any other number is sent as 255 (no zone)
             summerTime [dst]: on or off
  proxy      proxyEnable [enable]: on or off, proxyAddress [ip, address], proxyPort [port]
  uidentify  uIdentify [enable]: on or off
Numbers are whole decimal numbers with an optional sign and nothing else; ports are 0..65535.
Anything else ("abc", "+8x", "80 ", 70000 for a port) is a usage error and nothing is sent (the
console would send 0, 8, 80 or 4464). Texts longer than their field are cut to the field, as the
console does.)";

inline constexpr std::string_view kPasswords = R"(Passwords:
  The passwords that set and passwd write (wifiPassword, apnPassword, passwd's NEW) need not
  appear on the command line, where other users of this computer can read them in the process
  list and the shell history:
  - A value of "-" (wifiPassword=-, password=-, passwd -) reads the next line of standard input.
    With --password-stdin, line 1 is the login password and the "-" values follow in the order
    they appear on the command line. No line left for one is a usage error. (A password that
    is "-" itself goes in --secrets-file.)
  - --secrets-file F holds NAME=VALUE lines: new-password (for passwd), wifiPassword (set wifi),
    apnPassword (set 4g); names ignore case, the value is the rest of the line as it is.
    LF or CR LF line ends; empty lines and lines starting with # are skipped. An unknown name, a
    name given twice or a line without "=" is a usage error. The file's password for the group
    being set is written as if named on the command line (which then must not name it too);
    passwords for other groups are not used.
  A password given literally still works, with a warning on standard error.)";

inline constexpr std::string_view kTimes =
    R"(TIME is "2026-03-05 14:07", "2026-03-05 14:07:09" or "2026-03-05" in this computer's local time,
or an ISO 8601 time with Z or an offset ("2026-03-05T06:07:09Z").)";

inline constexpr std::string_view kTimesFooter[] = {kTimes};

} // namespace orv::cli
