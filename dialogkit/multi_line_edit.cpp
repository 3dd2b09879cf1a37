#include "dialogkit/multi_line_edit.h"

#include <QTextCursor>

namespace orv {
namespace {

// The document splits lines at \r\n, \r and \n alike; \r\n must count once.
QString displayForm(const QString& text)
{
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

} // namespace

MultiLineEdit::MultiLineEdit(QWidget* parent)
    : QPlainTextEdit(parent)
{
    setUndoRedoEnabled(false);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
}

void MultiLineEdit::setWindowText(const QString& text)
{
    text_ = text;
    setPlainText(displayForm(text));
}

void MultiLineEdit::appendAtEnd(const QString& text)
{
    text_ += text;
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(displayForm(text));
    setTextCursor(cursor);
    ensureCursorVisible();
}

} // namespace orv
