#pragma once
// The activity log's side that every operation uses: the built-in message table in three
// languages, PostLog, the window event that carries a finished line, and the text-file writer
// that the log's Save and the device-ID export share.

#include <QEvent>
#include <QString>

#include <cstdint>
#include <string>
#include <string_view>

class QObject;

namespace orv {

// The console's private message that carries one log line.
inline constexpr int WM_APPEND_LOG = 0x1400;
inline constexpr auto kAppendLogEvent = static_cast<QEvent::Type>(WM_APPEND_LOG);

// Message numbers. 0..28 never move; the failure messages follow them.
enum class LogMessage : int {
    ProgramStartup = 0,
    LoginSuccess = 1,
    LoginFail = 2,
    ChangePasswdSuccess = 3,
    ChangePasswdFail = 4,
    RememberUser = 5,
    UDiskModeStartup = 6,
    Reboot = 7,
    Factory = 8,
    TimeSync = 9,
    FormatSdcard = 10,
    UpgradeStart = 11,
    Upgrading = 12,
    UpgradeSuccess = 13,
    UpgradeFail = 14,
    GetSuccess = 15, // "%s": the group's log word
    GetFail = 16,
    SetSuccess = 17,
    SetFail = 18,
    ExportDeviceId = 19,
    ClearLog = 20,
    SaveLog = 21,
    LoadUserSetupSuccess = 22,
    LoadUserSetupFail = 23,
    SaveUserSetup = 24,
    OpenSearchToolSuccess = 25,
    OpenSearchToolFail = 26,
    CloseSearchTool = 27,
    OpenRndis = 28,
    TimeSyncFail = 29,
    UDiskModeFail = 30,
    FactoryFail = 31,
    FormatSdcardFail = 32,
    SaveLogFail = 33,
    ExportDeviceIdFail = 34,
    SaveUserSetupFail = 35,
    LedgerFail = 36,      // "%s": where the ledger is and why it cannot be written
    LedgerAway = 37,      // "%s": since when the shared ledger does not answer, and why
    LedgerForwarded = 38, // "%s": how many events waiting in the spool it took
};
inline constexpr int kLogMessageCount = 39;

// The text of a message in a language, line end included. A language index outside 0..2 gives
// Simplified Chinese; a message number outside the table gives an empty text.
std::u16string_view logMessageText(std::uint8_t language, int number);

// The message with its argument in place of %s, printf-style ("%%" gives "%"). An empty argument
// means no formatting at all: the text comes back unchanged, any % included.
QString formatLogMessage(std::u16string_view text, std::u16string_view argument);

// "[YYYY-MM-DD hh:mm:ss] " of the local time now.
QString logTimestamp();

// One finished message on its way to the console window, which owns it once posted.
class LogRequest : public QEvent
{
public:
    explicit LogRequest(QString text)
        : QEvent(kAppendLogEvent)
        , text(std::move(text))
    {
    }
    QString text;
};

// Takes the message in the language of the settings object, formats it and posts it to `window`.
// Returns at once; the line appears when the window's event loop next runs, in posting order.
// Nothing is posted for a null window or a number outside the table.
void PostLog(QObject* window, int number, std::u16string_view argument = {});
inline void PostLog(QObject* window, LogMessage message, std::u16string_view argument = {})
{
    PostLog(window, static_cast<int>(message), argument);
}

// Appends `text` to the file as UTF-16LE without a byte-order mark, creating the file when it is
// missing. False when the file cannot be opened or the text cannot be written whole; the file
// then keeps exactly what it held before (a file made by this call is removed again), and `why`,
// when given, says why as the system words it.
bool AppendTextFile(const QString& path, const QString& text, std::string* why = nullptr);

// The argument of a "... fail: %s ..." line about a file: the file as the user chose it (native
// separators), then why, when that is known.
std::u16string failedFileArgument(const QString& path, const std::string& why = {});

} // namespace orv
