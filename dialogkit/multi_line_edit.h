#pragma once
// A read-mostly multi-line box that keeps its text exactly as given, line ends included (a lone
// line feed stays a lone line feed), while showing it as ordinary lines.

#include <QPlainTextEdit>
#include <QString>

namespace orv {

class MultiLineEdit : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit MultiLineEdit(QWidget* parent = nullptr);

    const QString& windowText() const { return text_; }
    void setWindowText(const QString& text);
    // Puts the caret at the end, dropping any selection, adds `text` there and scrolls so that
    // the end is visible. Nothing goes to the undo history.
    void appendAtEnd(const QString& text);

private:
    QString text_;
};

} // namespace orv
