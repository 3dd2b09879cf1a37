#pragma once
// The one way the program asks the operator for a file name. In tests the answers are queued
// beforehand with setNextFileName; every prompt is recorded, and a prompt with no answer queued
// is reported to the test's failure handler instead of opening a dialog nobody can answer.

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace orv {

struct FilePrompt
{
    enum class Kind { Open, Save };
    Kind kind = Kind::Save;
    QString title;
    QString filter;       // as the caller gave it: "label|patterns|...||"
    QString proposedName; // initial file name, often a full path
    QString defaultSuffix;
    bool confirmOverwrite = false;
};

class FileDialog
{
public:
    static FileDialog& instance();

    // Empty when the operator cancels. `filter` uses the "label|patterns|label|patterns||" form.
    QString getSaveFileName(QWidget* parent, const QString& title, const QString& proposedName, const QString& filter,
                            const QString& defaultSuffix, bool confirmOverwrite);
    QString getOpenFileName(QWidget* parent, const QString& title, const QString& proposedName, const QString& filter,
                            const QString& defaultSuffix);

    // --- for tests ---
    // From now on no real dialog opens: prompts take queued answers, and a prompt without one is
    // handed to `onUnanswered` and answered as cancelled.
    void enterTestMode(std::function<void(const FilePrompt&)> onUnanswered);
    void leaveTestMode();
    // The answer to the next prompt; an empty name answers "cancel".
    void setNextFileName(const QString& name);
    const QList<FilePrompt>& prompts() const { return prompts_; }
    int queuedAnswers() const { return static_cast<int>(answers_.size()); }
    // Forgets recorded prompts and queued answers.
    void reset();

private:
    QString answer(QWidget* parent, const FilePrompt& prompt);

    bool testMode_ = false;
    std::function<void(const FilePrompt&)> onUnanswered_;
    QStringList answers_;
    QList<FilePrompt> prompts_;
};

// "文本文档(*.txt)|*.txt||" as the filter list of a Qt file dialog.
QString qtFileFilter(const QString& filter);

} // namespace orv
