#pragma once
// The History window of the search tool: for one camera, the officers who held it (from the
// ledger's assignment history) and its events, newest first. It opens at once and fills when the
// ledger has answered. From it the chain-of-custody report of the camera, or of an officer who
// held it, over the whole history or a period, is saved as a PDF.

#include "ledger/ledger.h"
#include "report/custody_report.h"
#include "searchtool/search_tool_texts.h"

#include <QDialog>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace orv::search {

// ledger::localTimeText as the window shows it.
QString localTimeText(const std::string& timeUtc);

class LedgerHistoryDlg : public QDialog
{
    Q_OBJECT
public:
    LedgerHistoryDlg(const QString& deviceId, std::uint8_t language, QWidget* parent = nullptr);

    // Makes the report asked for elsewhere and hands its outcome to reportWritten, unless the window
    // is gone by then; must not wait for it. Save report is offered once there is one. `folder` is
    // where the report is proposed (empty: the documents folder).
    using Reporter = std::function<void(report::ReportRequest)>;
    void setReporter(Reporter reporter, const QString& folder);

    // The ledger's events of the camera, and those still waiting in the station's spool for a
    // shared ledger (marked so, newest of all).
    void showEvents(const std::vector<ledger::Event>& events, const std::vector<ledger::Event>& waiting = {});
    // The ledger could not be read: why, and what waits in the station's spool all the same.
    void showProblem(const QString& problem, const std::vector<ledger::Event>& waiting = {});
    void reportWritten(const report::ReportOutcome& outcome);

    void OnSaveReport();

    QTreeWidget* officerList() const { return officers_; }
    QTreeWidget* eventList() const { return events_; }
    // "Camera ..." first, then each officer who held the camera.
    QComboBox* subjectChoice() const { return subject_; }
    QCheckBox* sinceCheck() const { return sinceCheck_; }
    QDateEdit* sinceDate() const { return sinceDate_; }
    QCheckBox* untilCheck() const { return untilCheck_; }
    QDateEdit* untilDate() const { return untilDate_; }
    QPushButton* saveReportButton() const { return saveReport_; }
    QString statusText() const;

private:
    QString text(SearchText t) const { return searchText(t, language_); }
    void say(const QString& status);
    void fill(const std::vector<ledger::Event>& events, const std::vector<ledger::Event>& waiting);
    void updateSaveReport();
    void chooseOfficerOfSelectedRow();

    QString deviceId_;
    std::uint8_t language_;
    Reporter reporter_;
    QString reportFolder_;
    QString reportName_; // the file being written, while it is
    bool writing_ = false;
    QLabel* status_ = nullptr;
    QTreeWidget* officers_ = nullptr;
    QTreeWidget* events_ = nullptr;
    QComboBox* subject_ = nullptr;
    QCheckBox* sinceCheck_ = nullptr;
    QDateEdit* sinceDate_ = nullptr;
    QCheckBox* untilCheck_ = nullptr;
    QDateEdit* untilDate_ = nullptr;
    QPushButton* saveReport_ = nullptr;
};

} // namespace orv::search
