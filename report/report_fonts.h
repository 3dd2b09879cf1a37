#pragma once
// The fonts a report is drawn and embedded with: one face with Chinese characters, so that every
// text (officer names, units, the three languages) is in the PDF whatever the computer has. And
// the Qt application drawing text needs, for a program that has none of its own.

#include <QString>
#include <QtGlobal>

#include <array>
#include <memory>
#include <optional>
#include <string>

class QGuiApplication;

namespace orv::report {

struct ReportFonts
{
    QString sans; // the family of proportional text
    QString mono; // the family of the proofs and keys
};

// Loads the report's font file once: "fonts/wqy-microhei.ttc" beside the program (Windows, the
// build tree), else the system's copy (Debian's fonts-wqy-microhei), else ORV_REPORT_FONT.
// Nullopt with `error` naming the places looked at.
std::optional<ReportFonts> reportFonts(std::string& error);

// Qt's text drawing for a program without a Qt application (orvctl): while it lives, a
// QGuiApplication on the offscreen platform, made only when there is no application yet.
class ReportApplication
{
public:
    ReportApplication();
    ~ReportApplication();
    ReportApplication(const ReportApplication&) = delete;
    ReportApplication& operator=(const ReportApplication&) = delete;

private:
    std::array<char, 8> name_{"orvctl"};
    std::array<char, 10> option_{"-platform"};
    std::array<char, 10> platform_{"offscreen"};
    int argc_ = 0;
    std::array<char*, 4> argv_{};
    QtMessageHandler previousHandler_ = nullptr;
    std::unique_ptr<QGuiApplication> app_;
};

} // namespace orv::report
