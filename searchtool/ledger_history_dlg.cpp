#include "searchtool/ledger_history_dlg.h"

#include "dialogkit/file_dialog.h"
#include "dialogkit/message_box.h"
#include "lang/language_texts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QHeaderView>
#include <QLabel>
#include <QStandardPaths>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace orv::search {
namespace {

QString fromUtf8(const std::string& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// "P-1041" or "P-1041 -> P-2002" when the event changed it.
QString change(const std::string& before, const std::string& after)
{
    if (after.empty() || before == after) {
        return fromUtf8(after.empty() ? before : after);
    }
    return before.empty() ? fromUtf8(after) : fromUtf8(before) + QStringLiteral(" \u2192 ") + fromUtf8(after);
}

QTreeWidget* newList(const QStringList& headers, QWidget* parent)
{
    auto* list = new QTreeWidget(parent);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setColumnCount(static_cast<int>(headers.size()));
    list->setHeaderLabels(headers);
    list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    return list;
}

// A device or officer id as the start of a file name: what no file system takes becomes '_'.
QString fileNamePart(QString id)
{
    for (QChar& c : id) {
        if (c < QChar(0x20) || QStringLiteral("\\/:*?\"<>|").contains(c)) {
            c = QLatin1Char('_');
        }
    }
    return id;
}

// An optional bound of the period: a check box that says whether there is one, and its date.
QDateEdit* newDateEdit(QCheckBox* check, QWidget* parent)
{
    auto* date = new QDateEdit(QDate::currentDate(), parent);
    date->setCalendarPopup(true);
    date->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    date->setEnabled(false);
    date->setAccessibleName(check->text());
    QObject::connect(check, &QCheckBox::toggled, date, &QWidget::setEnabled);
    return date;
}

} // namespace

QString localTimeText(const std::string& timeUtc)
{
    return fromUtf8(ledger::localTimeText(timeUtc));
}

LedgerHistoryDlg::LedgerHistoryDlg(const QString& deviceId, std::uint8_t language, QWidget* parent)
    : QDialog(parent)
    , deviceId_(deviceId)
    , language_(language)
{
    const auto t = [this](SearchText text) { return this->text(text); };
    setWindowTitle(t(SearchText::HistoryTitle).arg(deviceId));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    status_ = new QLabel(t(SearchText::HistoryLoading), this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse); // a report's SHA-256 to copy
    layout->addWidget(status_);
    layout->addWidget(new QLabel(t(SearchText::HistoryOfficers), this));
    officers_ = newList({t(SearchText::HistoryOfficer), t(SearchText::HistoryUnit), t(SearchText::HistoryFrom),
                         t(SearchText::HistoryUntil)},
                        this);
    layout->addWidget(officers_, 1);
    layout->addWidget(new QLabel(t(SearchText::HistoryEvents), this));
    events_ = newList({t(SearchText::HistoryTime), t(SearchText::HistoryKind), t(SearchText::HistoryOfficer),
                       t(SearchText::HistoryUnit), t(SearchText::HistoryResult), t(SearchText::HistoryStation),
                       t(SearchText::HistoryOperator), t(SearchText::HistoryWhere), t(SearchText::HistorySetup),
                       t(SearchText::HistoryShared)},
                      this);
    layout->addWidget(events_, 3);

    auto* reportRow = new QHBoxLayout;
    auto* reportOn = new QLabel(t(SearchText::ReportOn), this);
    subject_ = new QComboBox(this);
    subject_->addItem(t(SearchText::ReportCamera).arg(deviceId), QString());
    reportOn->setBuddy(subject_);
    sinceCheck_ = new QCheckBox(t(SearchText::HistoryFrom), this);
    sinceDate_ = newDateEdit(sinceCheck_, this);
    untilCheck_ = new QCheckBox(t(SearchText::HistoryUntil), this);
    untilDate_ = newDateEdit(untilCheck_, this);
    saveReport_ = new QPushButton(t(SearchText::SaveReport), this);
    saveReport_->setAutoDefault(false);
    for (QWidget* w : std::initializer_list<QWidget*>{reportOn, subject_, sinceCheck_, sinceDate_, untilCheck_,
                                                      untilDate_}) {
        reportRow->addWidget(w);
    }
    reportRow->addStretch(1);
    reportRow->addWidget(saveReport_);
    layout->addLayout(reportRow);
    connect(saveReport_, &QPushButton::clicked, this, [this] { OnSaveReport(); });
    connect(officers_, &QTreeWidget::itemSelectionChanged, this, [this] { chooseOfficerOfSelectedRow(); });
    updateSaveReport();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(t(SearchText::Close));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(900, 500);
}

QString LedgerHistoryDlg::statusText() const
{
    return status_->text();
}

void LedgerHistoryDlg::say(const QString& status)
{
    status_->setText(status);
    status_->show();
}

void LedgerHistoryDlg::showProblem(const QString& problem, const std::vector<ledger::Event>& waiting)
{
    if (waiting.empty()) {
        say(text(SearchText::HistoryProblem).arg(problem));
        return;
    }
    say(text(SearchText::HistorySharedUnread).arg(problem));
    fill({}, waiting);
}

void LedgerHistoryDlg::showEvents(const std::vector<ledger::Event>& events, const std::vector<ledger::Event>& waiting)
{
    if (!writing_) { // a report asked for before the ledger answered keeps its line
        status_->clear();
        status_->hide();
    }
    fill(events, waiting);
}

void LedgerHistoryDlg::fill(const std::vector<ledger::Event>& shared, const std::vector<ledger::Event>& waiting)
{
    // What waits in the spool was recorded after what this station forwarded before it.
    std::vector<ledger::Event> events = shared;
    events.insert(events.end(), waiting.begin(), waiting.end());
    std::vector<ledger::Assignment> held = ledger::assignmentHistory(events);
    std::reverse(held.begin(), held.end()); // newest first
    for (const ledger::Assignment& a : held) {
        const QString officer = fromUtf8(a.officerId);
        if (!officer.isEmpty() && subject_->findData(officer) < 0) {
            subject_->addItem(text(SearchText::ReportOfficer).arg(officer), officer);
        }
        auto* item = new QTreeWidgetItem(officers_);
        item->setText(0, fromUtf8(a.officerId));
        item->setText(1, fromUtf8(a.unit));
        item->setText(2, localTimeText(a.fromUtc));
        item->setText(3, a.untilUtc.empty() ? searchText(SearchText::HistoryStill, language_) : localTimeText(a.untilUtc));
    }
    for (auto e = events.rbegin(); e != events.rend(); ++e) {
        const bool inSpool = static_cast<std::size_t>(events.rend() - e) > shared.size();
        auto* item = new QTreeWidgetItem(events_);
        if (inSpool) {
            item->setText(9, text(SearchText::HistoryWaitingMark));
        }
        item->setText(0, localTimeText(e->timeUtc));
        item->setText(1, fromUtf8(e->kind));
        item->setText(2, change(e->officerBefore, e->officerAfter));
        item->setText(3, change(e->unitBefore, e->unitAfter));
        item->setText(4, fromUtf8(e->result));
        item->setToolTip(4, fromUtf8(e->differences));
        item->setText(5, fromUtf8(e->station));
        item->setText(6, fromUtf8(e->operatorName));
        item->setText(7, fromUtf8(e->where));
        item->setText(8, fromUtf8(e->setupName));
        item->setToolTip(8, fromUtf8(e->setupSha256));
        item->setData(0, Qt::UserRole, QVariant::fromValue<qlonglong>(e->number));
    }
}

void LedgerHistoryDlg::setReporter(Reporter reporter, const QString& folder)
{
    reporter_ = std::move(reporter);
    reportFolder_ = folder;
    updateSaveReport();
}

void LedgerHistoryDlg::updateSaveReport()
{
    saveReport_->setEnabled(reporter_ && !writing_);
}

// A click on an officer's row makes the report that officer's.
void LedgerHistoryDlg::chooseOfficerOfSelectedRow()
{
    const QList<QTreeWidgetItem*> selected = officers_->selectedItems();
    if (selected.size() == 1) {
        const int index = subject_->findData(selected.front()->text(0));
        if (index >= 0) {
            subject_->setCurrentIndex(index);
        }
    }
}

void LedgerHistoryDlg::OnSaveReport()
{
    if (!reporter_ || writing_) {
        return;
    }
    const bool since = sinceCheck_->isChecked();
    const bool until = untilCheck_->isChecked();
    if (since && until && sinceDate_->date() > untilDate_->date()) {
        MessageBox::instance().show(this, text(SearchText::ReportPeriodReversed), windowTitle(),
                                    QMessageBox::Information);
        return;
    }
    const QString officer = subject_->currentData().toString();
    QString folder = reportFolder_;
    if (folder.isEmpty()) {
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    }
    if (folder.isEmpty()) {
        folder = QDir::homePath();
    }
    const QString proposed =
        QDir(folder).filePath(fileNamePart(officer.isEmpty() ? deviceId_ : officer) + QStringLiteral("-custody.pdf"));
    const QString file = FileDialog::instance().getSaveFileName(this, text(SearchText::SaveReportTitle), proposed,
                                                                text(SearchText::ReportFilter), QStringLiteral("pdf"),
                                                                true);
    if (file.isEmpty()) {
        return;
    }
    const QFileInfo chosen(file);
    reportFolder_ = chosen.absolutePath();
    reportName_ = chosen.fileName();

    report::ReportRequest request;
    if (officer.isEmpty()) {
        request.query.deviceId = deviceId_.toStdString();
    } else {
        request.query.officerId = officer.toStdString();
    }
    // Whole days of this computer's calendar, as the dates are shown.
    const auto day = [](const QDateEdit* edit) { return edit->date().toString(Qt::ISODate).toStdString(); };
    if (since) {
        request.query.sinceUtc = ledger::parseUserTime(day(sinceDate_)).value_or(std::string());
    }
    if (until) {
        request.query.untilUtc =
            ledger::parseUserTime(day(untilDate_), ledger::DateOnly::EndOfDay).value_or(std::string());
    }
    request.language = static_cast<report::ReportLanguage>(validLanguage(language_));
    request.pdf = std::filesystem::path(chosen.absoluteFilePath().toStdU16String());

    writing_ = true;
    updateSaveReport();
    say(text(SearchText::ReportWriting));
    reporter_(std::move(request));
}

void LedgerHistoryDlg::reportWritten(const report::ReportOutcome& outcome)
{
    using Status = report::ReportOutcome::Status;
    writing_ = false;
    updateSaveReport();
    const QString message = fromUtf8(outcome.message);
    QString said;
    QMessageBox::Icon box = QMessageBox::NoIcon;
    switch (outcome.status) {
        case Status::Failed:
            said = text(SearchText::ReportFailed).arg(message);
            box = QMessageBox::Critical;
            break;
        case Status::NotSound:
            said = text(SearchText::ReportNotSound).arg(reportName_, message);
            box = QMessageBox::Warning;
            break;
        case Status::Sound:
            said = text(SearchText::ReportWritten)
                       .arg(reportName_, QString::number(outcome.pages), fromUtf8(outcome.sha256));
            if (!message.isEmpty()) {
                said += QLatin1Char('\n') + message;
            }
            break;
    }
    if (!outcome.notRecorded.empty()) {
        said += QLatin1Char('\n') + text(SearchText::ReportNotRecorded).arg(fromUtf8(outcome.notRecorded));
    }
    say(said);
    if (box != QMessageBox::NoIcon) {
        MessageBox::instance().show(this, said, windowTitle(), box);
    }
}

} // namespace orv::search
