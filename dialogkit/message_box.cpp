#include "dialogkit/message_box.h"

#include <QGuiApplication>

namespace orv {

MessageBox& MessageBox::instance()
{
    static MessageBox box;
    return box;
}

QMessageBox::StandardButton MessageBox::show(QWidget* parent, const QString& text, const QString& title,
                                             QMessageBox::Icon icon, QMessageBox::StandardButtons buttons)
{
    const MessagePrompt prompt{title, text, icon, buttons};
    prompts_.append(prompt);
    if (!answers_.isEmpty()) {
        return answers_.takeFirst();
    }
    if (testMode_) {
        if (onUnanswered_) {
            onUnanswered_(prompt);
        }
        return QMessageBox::NoButton;
    }
    QMessageBox box(icon, title.isEmpty() ? QGuiApplication::applicationDisplayName() : title, text, buttons, parent);
    box.setTextFormat(Qt::PlainText);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void MessageBox::enterTestMode(std::function<void(const MessagePrompt&)> onUnanswered)
{
    testMode_ = true;
    onUnanswered_ = std::move(onUnanswered);
}

void MessageBox::leaveTestMode()
{
    testMode_ = false;
    onUnanswered_ = nullptr;
    reset();
}

void MessageBox::setNextAnswer(QMessageBox::StandardButton answer)
{
    answers_.append(answer);
}

void MessageBox::reset()
{
    answers_.clear();
    prompts_.clear();
}

} // namespace orv
