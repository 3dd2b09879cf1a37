#pragma once
// The custody report's words in the three languages the programs speak.

#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>

namespace orv::report {

enum class ReportLanguage : std::uint8_t { SimplifiedChinese = 0, TraditionalChinese = 1, English = 2 };

// "zh_CN", "zh_TW", "en"; nullopt for anything else.
std::optional<ReportLanguage> reportLanguageNamed(std::string_view code);
// The computer's language as a report language: Chinese in Taiwan, Hong Kong and Macau, or written
// in traditional characters, is zh_TW; other Chinese zh_CN; anything else en.
ReportLanguage systemReportLanguage();

enum class ReportText : std::uint8_t {
    Title,
    SubjectCamera,  // %1: the device id
    SubjectOfficer, // %1: the officer id
    PageOf,         // %1 of %2
    FooterOrigin,   // %1: the ledger's origin
    Continued,
    // what was asked
    AskedHeading,
    Camera,
    Officer,
    Period,
    PeriodOpenStart,
    PeriodOpenEnd,
    MadeAt,
    MadeBy,
    Station,
    Program,
    Ledger,
    Origin,
    EventsListed, // %1 listed of %2 in the ledger
    // intervals
    IntervalsHeading,
    NoIntervals,
    ColumnOfficer,
    ColumnCamera,
    ColumnUnit,
    ColumnFrom,
    ColumnUntil,
    Still,
    // events
    EventsHeading,
    NoEvents,
    EventNumber, // %1
    Time,          // local time, then UTC
    KindResult,
    CameraWhere,
    StationOperatorTool,
    GroupsWritten,
    OfficerBeforeAfter,
    UnitBeforeAfter,
    SetupFile,     // its name and SHA-256
    Differences,
    ProofAt, // %1: the appendix's proof number
    NotProved,
    // verification
    VerificationHeading,
    VerifiedSummary,   // %1 events, %2 checkpoints, %3 signed up to
    WitnessedSummary,  // %1 witnessed up to, %2 witnesses
    NotWitnessed,
    BrokenWarning,
    BrokenReason,      // %1
    UnprovenEvents,    // %1 count
    UnreadableEvents,  // %1 numbers
    FindingsHeading,
    // checkpoint
    CheckpointHeading,
    CheckpointSize,
    CheckpointRoot,
    NoCheckpoint,
    Signatures,
    SignerKeys,
    KeyName,
    KeyId,
    KeyFingerprint,
    VerifierKey,
    // appendix
    AppendixHeading,
    AppendixHowTo, // %1: the proofs folder's name
    ProofOfEvent,  // %1: event number
    Count
};

QString reportText(ReportText text, ReportLanguage language);

} // namespace orv::report
