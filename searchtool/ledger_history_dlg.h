#pragma once
// The History window of the search tool: for one camera, the officers who held it (from the
// ledger's assignment history) and its events, newest first. It opens at once and fills when the
// ledger has answered.

#include "ledger/ledger.h"

#include <QDialog>

#include <cstdint>
#include <string>
#include <vector>

class QLabel;
class QTreeWidget;

namespace orv::search {

// ledger::localTimeText as the window shows it.
QString localTimeText(const std::string& timeUtc);

class LedgerHistoryDlg : public QDialog
{
    Q_OBJECT
public:
    LedgerHistoryDlg(const QString& deviceId, std::uint8_t language, QWidget* parent = nullptr);

    void showEvents(const std::vector<ledger::Event>& events);
    void showProblem(const QString& problem);

    QTreeWidget* officerList() const { return officers_; }
    QTreeWidget* eventList() const { return events_; }
    QString statusText() const;

private:
    std::uint8_t language_;
    QLabel* status_ = nullptr;
    QTreeWidget* officers_ = nullptr;
    QTreeWidget* events_ = nullptr;
};

} // namespace orv::search
