#include "dialogkit/ip_address_edit.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

namespace orv {
namespace {

constexpr int kOctetMax = 255;
constexpr int kOctetDigits = 3;

} // namespace

IpAddressEdit::IpAddressEdit(QWidget* parent)
    : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(0);
    auto* validator = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    for (int i = 0; i < 4; ++i) {
        auto* edit = new QLineEdit(this);
        edit->setFrame(false);
        edit->setAlignment(Qt::AlignCenter);
        edit->setValidator(validator);
        edit->setMaxLength(kOctetDigits);
        edit->setObjectName(QStringLiteral("octet%1").arg(i));
        // Only the first octet is a tab stop, so that Tab moves on to the next control.
        edit->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textEdited, this, [this, i] { onEdited(i); });
        fields_[static_cast<std::size_t>(i)] = edit;
        layout->addWidget(edit, 1);
        if (i < 3) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            dot->setBackgroundRole(QPalette::Base);
            layout->addWidget(dot);
        }
    }
    setFocusProxy(fields_[0]);
    setFocusPolicy(Qt::StrongFocus);
}

Octets IpAddressEdit::address() const
{
    Octets octets{};
    for (std::size_t i = 0; i < 4; ++i) {
        octets[i] = static_cast<std::uint8_t>(fields_[i]->text().toInt());
    }
    return octets;
}

void IpAddressEdit::setAddress(const Octets& octets)
{
    for (std::size_t i = 0; i < 4; ++i) {
        fields_[i]->setText(QString::number(octets[i]));
    }
}

void IpAddressEdit::clear()
{
    for (QLineEdit* f : fields_) {
        f->clear();
    }
}

bool IpAddressEdit::isBlank() const
{
    for (QLineEdit* f : fields_) {
        if (!f->text().isEmpty()) {
            return false;
        }
    }
    return true;
}

QString IpAddressEdit::text() const
{
    const Octets o = address();
    return QStringLiteral("%1.%2.%3.%4").arg(o[0]).arg(o[1]).arg(o[2]).arg(o[3]);
}

int IpAddressEdit::indexOf(QObject* field) const
{
    for (int i = 0; i < 4; ++i) {
        if (fields_[static_cast<std::size_t>(i)] == field) {
            return i;
        }
    }
    return -1;
}

void IpAddressEdit::focusField(int index, bool selectAll)
{
    if (index < 0 || index > 3) {
        return;
    }
    QLineEdit* f = fields_[static_cast<std::size_t>(index)];
    f->setFocus(Qt::OtherFocusReason);
    if (selectAll) {
        f->selectAll();
    }
}

void IpAddressEdit::onEdited(int index)
{
    QLineEdit* f = fields_[static_cast<std::size_t>(index)];
    if (f->text().toInt() > kOctetMax) {
        f->setText(QString::number(kOctetMax));
    }
    if (f->text().size() == kOctetDigits && f->cursorPosition() == kOctetDigits) {
        focusField(index + 1, true);
    }
}

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event)
{
    const int index = indexOf(watched);
    if (index < 0 || event->type() != QEvent::KeyPress) {
        return QFrame::eventFilter(watched, event);
    }
    auto* key = static_cast<QKeyEvent*>(event);
    QLineEdit* f = fields_[static_cast<std::size_t>(index)];
    switch (key->key()) {
        case Qt::Key_Period:
            // Swallowed in an empty octet, so that typing a whole address right after an octet
            // moved on by itself does not skip one.
            if (!f->text().isEmpty()) {
                focusField(index + 1, true);
            }
            return true;
        case Qt::Key_Left:
        case Qt::Key_Backspace:
            if (f->cursorPosition() == 0 && !f->hasSelectedText() && index > 0) {
                QLineEdit* previous = fields_[static_cast<std::size_t>(index - 1)];
                focusField(index - 1, false);
                previous->setCursorPosition(previous->text().size());
                return key->key() == Qt::Key_Left;
            }
            break;
        case Qt::Key_Right:
            if (f->cursorPosition() == f->text().size() && !f->hasSelectedText() && index < 3) {
                focusField(index + 1, false);
                fields_[static_cast<std::size_t>(index + 1)]->setCursorPosition(0);
                return true;
            }
            break;
        default:
            break;
    }
    return QFrame::eventFilter(watched, event);
}

void IpAddressEdit::changeEvent(QEvent* event)
{
    // A disabled field shows the window colour, like the other disabled edit boxes.
    if (event->type() == QEvent::EnabledChange) {
        setBackgroundRole(isEnabled() ? QPalette::Base : QPalette::Window);
    }
    QFrame::changeEvent(event);
}

} // namespace orv
