#include "report/custody_pdf.h"

#include "ledger/checkpoint.h"
#include "ledger/signed_note.h"
#include "report/report_fonts.h"

#include <QBuffer>
#include <QDateTime>
#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTimeZone>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace orv::report {
namespace {

// Page geometry in device units: the writer draws at 254 dots an inch, ten to the millimetre.
constexpr int kResolution = 254;
constexpr qreal kLeft = 180;
constexpr qreal kRight = 1920;
constexpr qreal kWidth = kRight - kLeft;
constexpr qreal kHeaderTop = 100;
constexpr qreal kTop = 230;
constexpr qreal kBottom = 2780;
constexpr qreal kFooterTop = 2830;
constexpr qreal kLabelWidth = 440;
constexpr qreal kGap = 18;

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

QString orDash(const std::string& text)
{
    return text.empty() ? QStringLiteral("—") : q(text);
}

QString beforeAfter(const std::string& before, const std::string& after)
{
    return orDash(before) + QStringLiteral(" → ") + orDash(after);
}

struct Fonts
{
    QFont title, heading, body, bold, small, mono;
};

Fonts makeFonts(const ReportFonts& families)
{
    Fonts f;
    f.body = QFont(families.sans);
    f.body.setPointSizeF(9);
    f.bold = f.body;
    f.bold.setBold(true);
    f.small = f.body;
    f.small.setPointSizeF(7.5);
    f.heading = f.bold;
    f.heading.setPointSizeF(12);
    f.title = f.bold;
    f.title.setPointSizeF(17);
    f.mono = QFont(families.mono);
    f.mono.setStyleHint(QFont::Monospace);
    f.mono.setPointSizeF(6.5);
    return f;
}

// Text measured once. An event's rows are measured to keep them on one page and again as they are
// drawn, and the drawing pass measures what the counting pass measured: on a long report that was
// a third of the time. The same text in the same font, width and flags has the same height at the
// writer's one resolution, so the cache serves both passes.
class Measures
{
public:
    qreal height(const QPaintDevice& device, const QFont& font, qreal width, const QString& text, int flags)
    {
        const std::size_t index = fontIndex(device, font);
        const QFontMetricsF& metrics = fonts_[index].second;
        if (text.isEmpty()) {
            return metrics.height();
        }
        const Key key{index, width, flags, text};
        const auto known = heights_.constFind(key);
        if (known != heights_.cend()) {
            return *known;
        }
        const qreal h = metrics.boundingRect(QRectF(0, 0, width, 1e9), flags | Qt::AlignLeft, text).height();
        heights_.insert(key, h);
        return h;
    }
    qreal lineSpacing(const QPaintDevice& device, const QFont& font)
    {
        return fonts_[fontIndex(device, font)].second.lineSpacing();
    }
    // The widest character a proof or a key holds: printable ASCII and the em dash that starts a
    // signature line. Not every face that calls itself fixed-pitch draws them all alike.
    qreal charWidth(const QPaintDevice& device, const QFont& font)
    {
        const QFontMetricsF& metrics = fonts_[fontIndex(device, font)].second;
        qreal widest = metrics.horizontalAdvance(QChar(0x2014));
        for (char16_t c = 0x21; c < 0x7F; ++c) {
            widest = std::max(widest, metrics.horizontalAdvance(QChar(c)));
        }
        return widest;
    }

private:
    struct Key
    {
        std::size_t font;
        qreal width;
        int flags;
        QString text;
        bool operator==(const Key& o) const
        {
            return font == o.font && width == o.width && flags == o.flags && text == o.text;
        }
        friend size_t qHash(const Key& k, size_t seed) { return qHashMulti(seed, k.font, k.width, k.flags, k.text); }
    };

    // The report has a handful of fonts: found by comparing (the same QFont object compares at once).
    std::size_t fontIndex(const QPaintDevice& device, const QFont& font)
    {
        for (std::size_t i = 0; i < fonts_.size(); ++i) {
            if (fonts_[i].first == font) {
                return i;
            }
        }
        fonts_.emplace_back(font, QFontMetricsF(font, &device));
        return fonts_.size() - 1;
    }

    std::vector<std::pair<QFont, QFontMetricsF>> fonts_;
    QHash<Key, qreal> heights_;
};

// Draws (or, on the first pass, only measures) the report page by page. The first pass counts
// the pages, so that each page can say "page N of M" on the second.
class Canvas
{
public:
    Canvas(QPdfWriter& device, Measures& measures, const Fonts& fonts, QString heading, QString footer,
           int totalPages, ReportLanguage language)
        : device_(device)
        , measures_(measures)
        , fonts_(fonts)
        , heading_(std::move(heading))
        , footer_(std::move(footer))
        , totalPages_(totalPages)
        , language_(language)
    {
    }

    void begin(QPainter* painter)
    {
        painter_ = painter;
        drawPageFrame();
    }

    int page() const { return page_; }
    const Fonts& fonts() const { return fonts_; }
    QString t(ReportText text) const { return reportText(text, language_); }

    qreal height(const QFont& font, qreal width, const QString& text, int flags = Qt::TextWordWrap) const
    {
        return measures_.height(device_, font, width, text, flags);
    }
    qreal lineHeight(const QFont& font) const { return measures_.lineSpacing(device_, font); }
    qreal charWidth(const QFont& font) const { return measures_.charWidth(device_, font); }

    // Starts a section: its heading, kept on the page with `following` of what comes after it.
    void section(const QString& title, qreal following = 200)
    {
        section_.clear();
        tableHeader_.clear();
        const qreal h = height(fonts_.heading, kWidth, title);
        need(h + kGap + following);
        y_ += kGap;
        draw(kLeft, kWidth, fonts_.heading, title);
        y_ += h + kGap;
        section_ = title;
    }

    void paragraph(const QFont& font, const QString& text, QColor color = Qt::black, qreal indent = 0)
    {
        const qreal h = height(font, kWidth - indent, text);
        need(h);
        draw(kLeft + indent, kWidth - indent, font, text, Qt::TextWordWrap, color);
        y_ += h + kGap / 2;
    }

    // Label and value rows, kept together on one page when they fit on one.
    using Rows = std::vector<std::pair<QString, QString>>;
    qreal rowsHeight(const Rows& rows) const
    {
        qreal total = 0;
        for (const auto& [label, value] : rows) {
            total += rowHeight(label, value);
        }
        return total;
    }
    void rows(const Rows& rows, const std::vector<int>& alarming = {})
    {
        need(std::min(rowsHeight(rows), kBottom - kTop));
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const auto& [label, value] = rows[i];
            const qreal h = rowHeight(label, value);
            need(h);
            const bool alarm = std::find(alarming.begin(), alarming.end(), static_cast<int>(i)) != alarming.end();
            draw(kLeft, kLabelWidth - 20, fonts_.small, label, Qt::TextWordWrap, QColor(70, 70, 70));
            draw(kLeft + kLabelWidth, kWidth - kLabelWidth, alarm ? fonts_.bold : fonts_.body, value,
                 Qt::TextWrapAnywhere, alarm ? QColor(180, 0, 0) : QColor(Qt::black));
            y_ += h;
        }
        y_ += kGap;
    }

    // A table whose header row is drawn again at the top of every page it continues on.
    void tableHeader(std::vector<QString> cells, std::vector<qreal> widths)
    {
        tableHeader_ = std::move(cells);
        tableWidths_ = std::move(widths);
        need(tableRowHeight(tableHeader_, fonts_.bold) * 3);
        tableRow(tableHeader_, fonts_.bold);
    }
    void tableRow(const std::vector<QString>& cells) { tableRow(cells, fonts_.small); }
    void endTable() { tableHeader_.clear(); y_ += kGap; }

    // Lines of fixed-width text, each drawn as it is.
    void monoLines(const std::vector<QString>& lines)
    {
        const qreal h = lineHeight(fonts_.mono);
        need(std::min<qreal>(h * static_cast<qreal>(lines.size()), h * 6));
        for (const QString& line : lines) {
            need(h);
            draw(kLeft, kWidth, fonts_.mono, line, 0);
            y_ += h;
        }
        y_ += kGap;
    }

    // A framed warning block.
    void warning(const std::vector<QString>& lines)
    {
        qreal h = 2 * kGap;
        for (const QString& line : lines) {
            h += height(fonts_.bold, kWidth - 40, line) + kGap / 2;
        }
        need(h);
        if (painter_) {
            painter_->save();
            painter_->setPen(QPen(QColor(180, 0, 0), 6));
            painter_->setBrush(QColor(255, 236, 236));
            painter_->drawRect(QRectF(kLeft, y_, kWidth, h));
            painter_->restore();
        }
        y_ += kGap;
        for (const QString& line : lines) {
            const qreal lh = height(fonts_.bold, kWidth - 40, line);
            draw(kLeft + 20, kWidth - 40, fonts_.bold, line, Qt::TextWordWrap, QColor(160, 0, 0));
            y_ += lh + kGap / 2;
        }
        y_ += kGap * 2;
    }

    void space(qreal h) { y_ += h; }

    void need(qreal h)
    {
        if (y_ + h > kBottom && y_ > kTop + 1) {
            newPage();
        }
    }

private:
    qreal rowHeight(const QString& label, const QString& value) const
    {
        return std::max(height(fonts_.small, kLabelWidth - 20, label),
                        height(fonts_.body, kWidth - kLabelWidth, value, Qt::TextWrapAnywhere)) +
               4;
    }

    qreal tableRowHeight(const std::vector<QString>& cells, const QFont& font) const
    {
        qreal h = 0;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            h = std::max(h, height(font, tableWidths_[i] - 16, cells[i], Qt::TextWrapAnywhere));
        }
        return h + 8;
    }

    void tableRow(const std::vector<QString>& cells, const QFont& font)
    {
        const qreal h = tableRowHeight(cells, font);
        need(h);
        qreal x = kLeft;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            draw(x, tableWidths_[i] - 16, font, cells[i], Qt::TextWrapAnywhere);
            x += tableWidths_[i];
        }
        y_ += h;
        if (painter_) {
            painter_->save();
            painter_->setPen(QPen(QColor(200, 200, 200), 2));
            painter_->drawLine(QPointF(kLeft, y_ - 3), QPointF(kRight, y_ - 3));
            painter_->restore();
        }
    }

    void draw(qreal x, qreal width, const QFont& font, const QString& text, int flags = Qt::TextWordWrap,
              QColor color = Qt::black)
    {
        if (!painter_) {
            return;
        }
        painter_->setFont(font);
        painter_->setPen(color);
        painter_->drawText(QRectF(x, y_, width, kBottom + 400 - y_), flags | Qt::AlignLeft | Qt::AlignTop, text);
    }

    void drawPageFrame()
    {
        y_ = kTop;
        if (!painter_) {
            return;
        }
        painter_->setFont(fonts_.small);
        painter_->setPen(QColor(60, 60, 60));
        const QString pageText = t(ReportText::PageOf).arg(page_).arg(totalPages_);
        painter_->drawText(QRectF(kLeft, kHeaderTop, kWidth * 0.75, 80), Qt::AlignLeft | Qt::AlignTop, heading_);
        painter_->drawText(QRectF(kLeft, kHeaderTop, kWidth, 80), Qt::AlignRight | Qt::AlignTop, pageText);
        painter_->drawText(QRectF(kLeft, kFooterTop, kWidth, 80), Qt::AlignLeft | Qt::AlignTop, footer_);
        painter_->setPen(QPen(QColor(120, 120, 120), 3));
        painter_->drawLine(QPointF(kLeft, kHeaderTop + 75), QPointF(kRight, kHeaderTop + 75));
        painter_->drawLine(QPointF(kLeft, kFooterTop - 15), QPointF(kRight, kFooterTop - 15));
    }

    void newPage()
    {
        if (painter_) {
            device_.newPage();
        }
        ++page_;
        drawPageFrame();
        if (!section_.isEmpty()) {
            const QString label = section_ + QStringLiteral(" ") + t(ReportText::Continued);
            const qreal h = height(fonts_.bold, kWidth, label);
            draw(kLeft, kWidth, fonts_.bold, label, Qt::TextWordWrap, QColor(90, 90, 90));
            y_ += h + kGap;
        }
        if (!tableHeader_.empty()) {
            const std::vector<QString> header = tableHeader_;
            tableRow(header, fonts_.bold);
        }
    }

    QPdfWriter& device_;
    Measures& measures_;
    const Fonts& fonts_;
    QString heading_;
    QString footer_;
    int totalPages_;
    ReportLanguage language_;
    QPainter* painter_ = nullptr;
    int page_ = 1;
    qreal y_ = kTop;
    QString section_;
    std::vector<QString> tableHeader_;
    std::vector<qreal> tableWidths_;
};

class ReportLayout
{
public:
    ReportLayout(const ledger::CustodyRecord& record, const ReportHeading& heading)
        : r_(record)
        , h_(heading)
    {
        for (std::size_t i = 0, appendix = 0; i < r_.proofs.size(); ++i) {
            appendixOf_.push_back(r_.proofs[i].proof ? static_cast<int>(++appendix) : 0);
        }
    }

    QString subject(ReportLanguage language) const
    {
        return r_.query.deviceId.empty() ? reportText(ReportText::SubjectOfficer, language).arg(q(r_.query.officerId))
                                         : reportText(ReportText::SubjectCamera, language).arg(q(r_.query.deviceId));
    }

    QString footer(ReportLanguage language) const
    {
        return reportText(ReportText::FooterOrigin, language).arg(q(r_.origin));
    }

    void draw(Canvas& c) const
    {
        firstPage(c);
        intervals(c);
        events(c);
        verification(c);
        checkpoint(c);
        appendix(c);
    }

private:
    QString when(const std::string& utc) const { return q(timeInZone(utc, h_.utcOffsetMinutes)); }

    QString period(Canvas& c) const
    {
        const QString from = r_.query.sinceUtc.empty() ? c.t(ReportText::PeriodOpenStart) : when(r_.query.sinceUtc);
        const QString until = r_.query.untilUtc.empty() ? c.t(ReportText::PeriodOpenEnd) : when(r_.query.untilUtc);
        return from + QStringLiteral(" — ") + until;
    }

    void firstPage(Canvas& c) const
    {
        const Fonts& f = c.fonts();
        c.paragraph(f.title, c.t(ReportText::Title));
        c.paragraph(f.heading, subject(h_.language));
        c.space(20);
        if (!r_.sound()) {
            std::vector<QString> lines{c.t(ReportText::BrokenWarning)};
            if (!r_.verification.problem.empty()) {
                lines.push_back(c.t(ReportText::BrokenReason).arg(q(r_.verification.problem)));
            }
            if (!r_.unproven.empty()) {
                lines.push_back(c.t(ReportText::UnprovenEvents).arg(r_.unproven.size()));
                for (std::size_t i = 0; i < r_.unproven.size() && i < 5; ++i) {
                    lines.push_back(q(r_.unproven[i]));
                }
            }
            if (!r_.unreadable.empty()) {
                QString numbers;
                for (const std::int64_t n : r_.unreadable) {
                    numbers += (numbers.isEmpty() ? QString() : QStringLiteral(", ")) + QString::number(n);
                }
                lines.push_back(c.t(ReportText::UnreadableEvents).arg(numbers));
            }
            c.warning(lines);
        }
        c.section(c.t(ReportText::AskedHeading));
        Canvas::Rows rows;
        rows.emplace_back(r_.query.deviceId.empty() ? c.t(ReportText::Officer) : c.t(ReportText::Camera),
                          q(r_.query.deviceId.empty() ? r_.query.officerId : r_.query.deviceId));
        rows.emplace_back(c.t(ReportText::Period), period(c));
        rows.emplace_back(c.t(ReportText::MadeAt), when(h_.madeUtc) + QStringLiteral("  (") + q(h_.madeUtc) + ")");
        rows.emplace_back(c.t(ReportText::MadeBy), orDash(h_.operatorName));
        rows.emplace_back(c.t(ReportText::Station), orDash(h_.station));
        rows.emplace_back(c.t(ReportText::Program), q(h_.tool + " " + h_.toolVersion));
        rows.emplace_back(c.t(ReportText::Ledger), orDash(h_.ledgerLocation));
        rows.emplace_back(c.t(ReportText::Origin), orDash(r_.origin));
        rows.emplace_back(c.t(ReportText::EventsHeading),
                          c.t(ReportText::EventsListed).arg(r_.events.size()).arg(r_.ledgerSize));
        c.rows(rows);
    }

    void intervals(Canvas& c) const
    {
        c.section(c.t(ReportText::IntervalsHeading));
        if (r_.intervals.empty()) {
            c.paragraph(c.fonts().body, c.t(ReportText::NoIntervals));
            return;
        }
        const bool byCamera = !r_.query.deviceId.empty();
        c.tableHeader({byCamera ? c.t(ReportText::ColumnOfficer) : c.t(ReportText::ColumnCamera),
                       c.t(ReportText::ColumnUnit), c.t(ReportText::ColumnFrom), c.t(ReportText::ColumnUntil)},
                      {kWidth * 0.16, kWidth * 0.2, kWidth * 0.32, kWidth * 0.32});
        for (const ledger::Assignment& a : r_.intervals) {
            c.tableRow({q(byCamera ? a.officerId : a.deviceId), orDash(a.unit),
                        when(a.fromUtc) + QStringLiteral(" (#") + QString::number(a.fromEvent) + ")",
                        a.untilUtc.empty() ? c.t(ReportText::Still)
                                           : when(a.untilUtc) + QStringLiteral(" (#") +
                                                 QString::number(a.untilEvent) + ")"});
        }
        c.endTable();
    }

    void events(Canvas& c) const
    {
        c.section(c.t(ReportText::EventsHeading), 400);
        if (r_.events.empty()) {
            c.paragraph(c.fonts().body, c.t(ReportText::NoEvents));
            return;
        }
        for (std::size_t i = 0; i < r_.events.size(); ++i) {
            const ledger::Event& e = r_.events[i];
            Canvas::Rows rows;
            std::vector<int> alarming;
            const QString dot = QStringLiteral(" · ");
            rows.emplace_back(c.t(ReportText::Time), when(e.timeUtc) + QStringLiteral("  (") + q(e.timeUtc) + ")");
            rows.emplace_back(c.t(ReportText::KindResult), orDash(e.kind) + dot + orDash(e.result));
            rows.emplace_back(c.t(ReportText::CameraWhere), orDash(e.deviceId) + dot + orDash(e.where));
            rows.emplace_back(c.t(ReportText::StationOperatorTool),
                              orDash(e.station) + dot + orDash(e.operatorName) + dot + q(e.tool + " " + e.toolVersion));
            rows.emplace_back(c.t(ReportText::GroupsWritten), orDash(e.groups));
            rows.emplace_back(c.t(ReportText::OfficerBeforeAfter), beforeAfter(e.officerBefore, e.officerAfter));
            rows.emplace_back(c.t(ReportText::UnitBeforeAfter), beforeAfter(e.unitBefore, e.unitAfter));
            rows.emplace_back(c.t(ReportText::SetupFile),
                              e.setupName.empty() && e.setupSha256.empty()
                                  ? QStringLiteral("—")
                                  : orDash(e.setupName) + QStringLiteral("\n") + orDash(e.setupSha256));
            rows.emplace_back(c.t(ReportText::Differences), orDash(e.differences));
            const ledger::EventProof& proof = r_.proofs[i];
            if (proof.proof) {
                rows.emplace_back(c.t(ReportText::VerificationHeading),
                                  c.t(ReportText::ProofAt).arg(appendixOf_[i]));
            } else {
                alarming.push_back(static_cast<int>(rows.size()));
                rows.emplace_back(c.t(ReportText::VerificationHeading),
                                  c.t(ReportText::NotProved) + QStringLiteral(": ") + q(proof.problem));
            }
            const QString title = c.t(ReportText::EventNumber).arg(e.number);
            c.need(c.height(c.fonts().bold, kWidth, title) + c.rowsHeight(rows) + 2 * kGap);
            c.paragraph(c.fonts().bold, title);
            c.rows(rows, alarming);
        }
    }

    void verification(Canvas& c) const
    {
        const Fonts& f = c.fonts();
        c.section(c.t(ReportText::VerificationHeading));
        const ledger::EvidenceReport& v = r_.verification;
        if (r_.sound()) {
            c.paragraph(f.body, c.t(ReportText::VerifiedSummary)
                                    .arg(v.chain.eventsChecked)
                                    .arg(v.checkpoints)
                                    .arg(v.signedUpTo));
        } else {
            std::vector<QString> lines{c.t(ReportText::BrokenWarning)};
            if (!v.problem.empty()) {
                lines.push_back(c.t(ReportText::BrokenReason).arg(q(v.problem)));
            }
            c.warning(lines);
        }
        if (v.witnesses.empty()) {
            c.paragraph(f.body, c.t(ReportText::NotWitnessed));
        } else {
            QString names;
            for (const std::string& w : v.witnesses) {
                names += (names.isEmpty() ? QString() : QStringLiteral(", ")) + q(w);
            }
            c.paragraph(f.body, c.t(ReportText::WitnessedSummary).arg(v.witnessedUpTo).arg(names));
        }
        for (const std::string& u : r_.unproven) {
            c.paragraph(f.small, QStringLiteral("• ") + q(u), QColor(160, 0, 0), 20);
        }
        c.paragraph(f.bold, c.t(ReportText::FindingsHeading));
        for (const std::string& finding : v.findings) {
            c.paragraph(f.small, QStringLiteral("• ") + q(finding), Qt::black, 20);
        }
    }

    void checkpoint(Canvas& c) const
    {
        const Fonts& f = c.fonts();
        c.section(c.t(ReportText::CheckpointHeading));
        if (!r_.checkpoint) {
            c.paragraph(f.bold, c.t(ReportText::NoCheckpoint), QColor(160, 0, 0));
            return;
        }
        const ledger::Checkpoint& cp = r_.checkpoint->checkpoint;
        c.rows({{c.t(ReportText::Origin), q(cp.origin)},
                {c.t(ReportText::CheckpointSize), QString::number(cp.size)},
                {c.t(ReportText::CheckpointRoot), q(ledger::hashBase64(cp.root))}});
        c.paragraph(f.bold, c.t(ReportText::Signatures));
        c.monoLines(wrapped(r_.checkpointNote, c));
        c.paragraph(f.bold, c.t(ReportText::SignerKeys));
        for (const ledger::VerifierKey& key : r_.signerKeys) {
            char id[9];
            std::snprintf(id, sizeof id, "%08x", key.id);
            c.rows({{c.t(ReportText::KeyName), q(key.name)},
                    {c.t(ReportText::KeyId), QString::fromLatin1(id)},
                    {c.t(ReportText::KeyFingerprint), q(ledger::keyFingerprint(key))},
                    {c.t(ReportText::VerifierKey), q(ledger::verifierKeyText(key))}});
        }
    }

    void appendix(Canvas& c) const
    {
        bool first = true;
        for (std::size_t i = 0; i < r_.proofs.size(); ++i) {
            if (!r_.proofs[i].proof) {
                continue;
            }
            if (first) {
                c.section(c.t(ReportText::AppendixHeading));
                c.paragraph(c.fonts().small, c.t(ReportText::AppendixHowTo).arg(q(h_.proofsFolder)));
                first = false;
            }
            const QString title = c.t(ReportText::ProofOfEvent).arg(appendixOf_[i]) + QStringLiteral(" — ") +
                                  c.t(ReportText::EventNumber).arg(r_.proofs[i].number);
            const std::vector<QString> lines = wrapped(ledger::proofText(*r_.proofs[i].proof), c);
            // A proof is kept on one page whenever it fits on one.
            c.need(std::min(c.lineHeight(c.fonts().bold) + kGap +
                                c.lineHeight(c.fonts().mono) * static_cast<qreal>(lines.size() + 1),
                            kBottom - kTop));
            c.paragraph(c.fonts().bold, title);
            c.monoLines(lines);
        }
    }

    static std::vector<QString> wrapped(const std::string& text, const Canvas& c)
    {
        const auto width = static_cast<std::size_t>(kWidth / c.charWidth(c.fonts().mono)) - 1;
        std::vector<QString> lines;
        const QString all = q(wrapProofText(text, width));
        for (const QString& line : all.split(QLatin1Char('\n'))) {
            lines.push_back(line);
        }
        if (!lines.empty() && lines.back().isEmpty()) {
            lines.pop_back();
        }
        return lines;
    }

    const ledger::CustodyRecord& r_;
    const ReportHeading& h_;
    std::vector<int> appendixOf_; // each event's proof's number in the appendix (0: none)
};

std::pair<QByteArray, int> renderPass(const ReportLayout& layout, const ReportHeading& heading, const Fonts& fonts,
                                      Measures& measures, int totalPages, bool paint)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    int pages = 0;
    {
        QPdfWriter writer(&buffer);
        writer.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
        writer.setResolution(kResolution);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
        writer.setTitle(reportText(ReportText::Title, heading.language) + QStringLiteral(" — ") +
                        layout.subject(heading.language));
        writer.setCreator(q(heading.tool + " " + heading.toolVersion));
        const QString head = reportText(ReportText::Title, heading.language) + QStringLiteral(" · ") +
                             layout.subject(heading.language) + QStringLiteral(" · ") +
                             q(timeInZone(heading.madeUtc, heading.utcOffsetMinutes));
        const QString foot = layout.footer(heading.language);
        Canvas canvas(writer, measures, fonts, head, foot, totalPages, heading.language);
        if (paint) {
            QPainter painter(&writer);
            canvas.begin(&painter);
            layout.draw(canvas);
            painter.end();
        } else {
            canvas.begin(nullptr);
            layout.draw(canvas);
        }
        pages = canvas.page();
    }
    return {paint ? buffer.data() : QByteArray(), pages};
}

} // namespace

std::string wrapProofText(const std::string& text, std::size_t width)
{
    width = std::max<std::size_t>(width, 8);
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const bool last = end == std::string::npos;
        if (last) {
            end = text.size();
        }
        // Width in characters: the text is UTF-8, and a signature line starts with an em dash.
        std::size_t lineStart = start;
        std::size_t count = 0;
        for (std::size_t i = start; i < end; ++i) {
            if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) {
                continue;
            }
            if (count == width - 1) {
                out.append(text, lineStart, i - lineStart);
                out += "\\\n";
                lineStart = i;
                count = 0;
            }
            ++count;
        }
        out.append(text, lineStart, end - lineStart);
        if (!last) {
            out += '\n';
        }
        start = end + 1;
    }
    return out;
}

std::string unwrapProofText(const std::string& wrapped)
{
    std::string out;
    std::size_t start = 0;
    while (start <= wrapped.size()) {
        std::size_t end = wrapped.find('\n', start);
        const bool last = end == std::string::npos;
        if (last) {
            end = wrapped.size();
        }
        std::string_view line(wrapped.data() + start, end - start);
        if (!last && !line.empty() && line.back() == '\\') {
            out.append(line.substr(0, line.size() - 1));
        } else {
            out.append(line);
            if (!last) {
                out += '\n';
            }
        }
        start = end + 1;
    }
    return out;
}

std::string timeInZone(const std::string& timeUtc, int offsetMinutes)
{
    const QDateTime utc = QDateTime::fromString(q(timeUtc), Qt::ISODateWithMs);
    if (!utc.isValid()) {
        return timeUtc;
    }
    const QDateTime local = utc.toOffsetFromUtc(offsetMinutes * 60);
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString() + " " +
           ledger::utcOffsetText(offsetMinutes);
}

std::optional<RenderedReport> custodyPdf(const ledger::CustodyRecord& record, const ReportHeading& heading,
                                         std::string& error)
{
    const std::optional<ReportFonts> families = reportFonts(error);
    if (!families) {
        return std::nullopt;
    }
    const Fonts fonts = makeFonts(*families);
    const ReportLayout layout(record, heading);
    Measures measures;
    const int pages = renderPass(layout, heading, fonts, measures, 0, false).second;
    auto [pdf, painted] = renderPass(layout, heading, fonts, measures, pages, true);
    return RenderedReport{std::move(pdf), painted};
}

} // namespace orv::report
