#pragma once
// The search tool's texts in the console's three languages. The tool follows the language the
// operator chose in the console (the language index of the settings file).

#include <QString>

#include <cstdint>

namespace orv::search {

enum class SearchText : std::uint8_t {
    // captions
    Title,
    CamerasLabel,
    SetupLabel,
    RosterLabel,
    InventoryLabel,
    UserLabel,
    PasswordLabel,
    NotOnRosterCheck,
    Browse,
    ApplyAll,
    ApplySelected,
    Stop,
    Close,
    // table columns
    ColumnWhere,
    ColumnDeviceId,
    ColumnOfficerId,
    ColumnOfficerName,
    ColumnState,
    ColumnResult,
    // camera states
    StateFound,
    StateReady,
    StateNoId,
    StateGone,
    StateQueued,
    StateConnecting,
    StateLoggingIn,
    StateIdentifying,
    StateSending,
    StateReadingBack,
    StateDone,
    // results
    ResultOk,
    ResultDiffers,
    ResultNotOnRoster,
    ResultStopped,
    ResultLoginRefused,
    ResultUnreachable,
    // status line and boxes; %1.. are filled in
    StatusCameras, // %1 cameras, %2 at work
    StatusLooking,
    StatusStopping,
    ChooseSetupTitle,
    ChooseRosterTitle,
    ChooseInventoryTitle,
    SetupFilter,
    RosterFilter,
    InventoryFilter,
    NoSetup,
    SetupUnreadable,  // %1 the file, %2 why
    SetupEmpty,       // %1 the file
    RosterRefused,    // %1 the file, %2 the problems, one per line
    InventoryRefused, // %1 the file, %2 why
    InventoryFailed,  // %1 the file
    NoneSelected,
    NoCameras,
    // added with the growing window, the check and the retry
    CheckAll,
    RetryFailed,
    ColumnClock,
    ClockOffset,   // %1 seconds, signed ("+3", "-120")
    Summary,       // %1 cameras: %2 ok, %3 differ, %4 failed, %5 at work
    StateChecking, // %1 the group
    ResultCheckOk,
    ResultCheckDiffers, // %1 the differing fields
    ResultDuplicate,
    DuplicateFlag, // tool tip; %1 the device id
    NoRetry,
    WorkerFailed, // %1 why
    // added with the ledger
    LedgerLabel,
    History,
    ColumnConfigured,
    ConfiguredBy, // %1 local time, %2 operator, %3 station
    ChooseLedgerTitle,
    LedgerFilter,
    StatusOpeningLedger,
    LedgerUnreachable, // %1 where, %2 why
    LedgerLost,        // %1 where and why, %2 how many outcomes are in the inventory only
    LedgerHead,        // %1 the last event's number, %2 its hash (shortened)
    HistoryTitle,      // %1 the device id
    HistoryOfficers,
    HistoryEvents,
    HistoryLoading,
    HistoryProblem, // %1 where and why
    HistoryNoCamera,
    HistoryTime,
    HistoryKind,
    HistoryOfficer,
    HistoryUnit,
    HistoryResult,
    HistoryStation,
    HistoryOperator,
    HistoryWhere,
    HistorySetup,
    HistoryFrom,
    HistoryUntil,
    HistoryStill,
    // added with the signed checkpoints
    LedgerForked,      // %1 where and what changed, %2 the file that keeps the proof
    StationUnusable,   // %1 why (the key, the trusted keys, the witness file)
    NoRoomForOutcomes, // %1 which file and how much room its disk has
    CheckpointFailed,  // %1 why
    LedgerRefused,     // %1 where and why
    // added with the custody report
    ReportOn,
    ReportCamera,  // %1 the device id
    ReportOfficer, // %1 the officer id
    SaveReport,
    SaveReportTitle,
    ReportFilter,
    ReportWriting,
    ReportWritten,     // %1 the file's name, %2 pages, %3 its SHA-256
    ReportNotSound,    // %1 the file's name, %2 what does not hold
    ReportFailed,      // %1 why
    ReportNotRecorded, // %1 why
    ReportPeriodReversed,
    // added with the station's spool of a shared ledger
    StatusSpoolWaiting,     // %1 events waiting (the shared database answered last)
    StatusSpoolUnreachable, // %1 events waiting, %2 since when, %3 why
    StatusSpoolRefused,     // %1 events waiting, %2 since when, %3 why
    StatusSpoolProblem,     // %1 why the spool cannot be read
    ConfiguredWaiting,      // after ConfiguredBy: the event is still in the station's spool
    HistoryShared,          // the column that marks events not yet in the shared ledger
    HistoryWaitingMark,
    HistorySharedUnread, // %1 where and why
    Count
};

// The text in the language of index `language` (0 Simplified Chinese, 1 Traditional Chinese,
// 2 English; any other index counts as Simplified Chinese, as in the console's log).
QString searchText(SearchText text, std::uint8_t language);

} // namespace orv::search
