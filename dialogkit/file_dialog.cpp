#include "dialogkit/file_dialog.h"

#include <QFileDialog>

namespace orv {

FileDialog& FileDialog::instance()
{
    static FileDialog dialog;
    return dialog;
}

QString FileDialog::getSaveFileName(QWidget* parent, const QString& title, const QString& proposedName,
                                    const QString& filter, const QString& defaultSuffix, bool confirmOverwrite)
{
    return answer(parent, {FilePrompt::Kind::Save, title, filter, proposedName, defaultSuffix, confirmOverwrite});
}

QString FileDialog::getOpenFileName(QWidget* parent, const QString& title, const QString& proposedName,
                                    const QString& filter, const QString& defaultSuffix)
{
    return answer(parent, {FilePrompt::Kind::Open, title, filter, proposedName, defaultSuffix, false});
}

QString FileDialog::answer(QWidget* parent, const FilePrompt& prompt)
{
    prompts_.append(prompt);
    if (!answers_.isEmpty()) {
        return answers_.takeFirst();
    }
    if (testMode_) {
        if (onUnanswered_) {
            onUnanswered_(prompt);
        }
        return {};
    }

    QFileDialog dialog(parent, prompt.title, prompt.proposedName, qtFileFilter(prompt.filter));
    dialog.setAcceptMode(prompt.kind == FilePrompt::Kind::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(prompt.kind == FilePrompt::Kind::Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(prompt.defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !prompt.confirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

void FileDialog::enterTestMode(std::function<void(const FilePrompt&)> onUnanswered)
{
    testMode_ = true;
    onUnanswered_ = std::move(onUnanswered);
}

void FileDialog::leaveTestMode()
{
    testMode_ = false;
    onUnanswered_ = nullptr;
    reset();
}

void FileDialog::setNextFileName(const QString& name)
{
    answers_.append(name);
}

void FileDialog::reset()
{
    answers_.clear();
    prompts_.clear();
}

QString qtFileFilter(const QString& filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& label = parts[i];
        if (label.isEmpty()) {
            break;
        }
        QString patterns = parts[i + 1];
        patterns.replace(u';', u' ');
        // Qt takes the patterns from the label's last parentheses; most labels already show them.
        const QString shown = QLatin1Char('(') + patterns + QLatin1Char(')');
        filters.append(label.contains(shown) ? label : label + QLatin1Char(' ') + shown);
    }
    return filters.join(QStringLiteral(";;"));
}

} // namespace orv
