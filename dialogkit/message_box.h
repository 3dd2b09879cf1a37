#pragma once
// The one way the program shows a message box. In tests the answers are queued beforehand with
// setNextAnswer; every box asked for is recorded, and one with no answer queued is reported to
// the test's failure handler instead of waiting for a click that never comes.

#include <QList>
#include <QMessageBox>
#include <QString>

#include <functional>

namespace orv {

struct MessagePrompt
{
    QString title; // empty: the application's name, the window system's default caption
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

class MessageBox
{
public:
    static MessageBox& instance();

    QMessageBox::StandardButton show(QWidget* parent, const QString& text, const QString& title = {},
                                     QMessageBox::Icon icon = QMessageBox::NoIcon,
                                     QMessageBox::StandardButtons buttons = QMessageBox::Ok);

    // --- for tests ---
    void enterTestMode(std::function<void(const MessagePrompt&)> onUnanswered);
    void leaveTestMode();
    void setNextAnswer(QMessageBox::StandardButton answer);
    const QList<MessagePrompt>& prompts() const { return prompts_; }
    int queuedAnswers() const { return static_cast<int>(answers_.size()); }
    void reset();

private:
    bool testMode_ = false;
    std::function<void(const MessagePrompt&)> onUnanswered_;
    QList<QMessageBox::StandardButton> answers_;
    QList<MessagePrompt> prompts_;
};

} // namespace orv
