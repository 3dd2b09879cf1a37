#include "searchtool/ledger_history_dlg.h"

#include "searchtool/search_tool_texts.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QHeaderView>
#include <QLabel>
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

} // namespace

QString localTimeText(const std::string& timeUtc)
{
    return fromUtf8(ledger::localTimeText(timeUtc));
}

LedgerHistoryDlg::LedgerHistoryDlg(const QString& deviceId, std::uint8_t language, QWidget* parent)
    : QDialog(parent)
    , language_(language)
{
    const auto t = [this](SearchText text) { return searchText(text, language_); };
    setWindowTitle(t(SearchText::HistoryTitle).arg(deviceId));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    status_ = new QLabel(t(SearchText::HistoryLoading), this);
    layout->addWidget(status_);
    layout->addWidget(new QLabel(t(SearchText::HistoryOfficers), this));
    officers_ = newList({t(SearchText::HistoryOfficer), t(SearchText::HistoryUnit), t(SearchText::HistoryFrom),
                         t(SearchText::HistoryUntil)},
                        this);
    layout->addWidget(officers_, 1);
    layout->addWidget(new QLabel(t(SearchText::HistoryEvents), this));
    events_ = newList({t(SearchText::HistoryTime), t(SearchText::HistoryKind), t(SearchText::HistoryOfficer),
                       t(SearchText::HistoryUnit), t(SearchText::HistoryResult), t(SearchText::HistoryStation),
                       t(SearchText::HistoryOperator), t(SearchText::HistoryWhere), t(SearchText::HistorySetup)},
                      this);
    layout->addWidget(events_, 3);
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

void LedgerHistoryDlg::showProblem(const QString& problem)
{
    status_->setText(searchText(SearchText::HistoryProblem, language_).arg(problem));
}

void LedgerHistoryDlg::showEvents(const std::vector<ledger::Event>& events)
{
    status_->clear();
    status_->hide();
    std::vector<ledger::Assignment> held = ledger::assignmentHistory(events);
    std::reverse(held.begin(), held.end()); // newest first
    for (const ledger::Assignment& a : held) {
        auto* item = new QTreeWidgetItem(officers_);
        item->setText(0, fromUtf8(a.officerId));
        item->setText(1, fromUtf8(a.unit));
        item->setText(2, localTimeText(a.fromUtc));
        item->setText(3, a.untilUtc.empty() ? searchText(SearchText::HistoryStill, language_) : localTimeText(a.untilUtc));
    }
    for (auto e = events.rbegin(); e != events.rend(); ++e) {
        auto* item = new QTreeWidgetItem(events_);
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

} // namespace orv::search
