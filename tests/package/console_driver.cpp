// Drives an installed console from inside its own process, for the package checks (.ci/package):
// a Qt generic plugin, loaded by QT_QPA_GENERIC_PLUGINS=orvdrive:STEP:ADDRESS with QT_PLUGIN_PATH
// pointing at it, so the console under test is the installed one, unchanged.
//   remember  types ADDRESS, admin / wrenq, ticks Hold, chooses English, logs in, closes
//   recall    expects exactly that back in the form, logs in with it, closes
// The outcome ("ok" or what differed) goes to the file named by ORV_DRIVE_REPORT.

#include "console/control_ids.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QFile>
#include <QGenericPlugin>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>

#include <utility>

namespace {

constexpr int kEnglish = 2;

QWidget* control(QWidget* dialog, int id)
{
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        if (w->property("controlId").toInt() == id) {
            return w;
        }
    }
    return nullptr;
}

// The four octet fields of the address control, in order.
QList<QLineEdit*> octets(QWidget* dialog)
{
    QWidget* address = control(dialog, orv::idc::kCameraIp);
    return address ? address->findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly) : QList<QLineEdit*>();
}

class ConsoleDriver : public QObject
{
public:
    ConsoleDriver(QString step, QString address)
        : step_(std::move(step))
        , address_(std::move(address))
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* dialog = qobject_cast<QDialog*>(watched);
        if (event->type() == QEvent::Show && dialog && !console_ && control(dialog, orv::idc::kLogin)) {
            console_ = dialog;
            // Once the dialog runs its own loop, as an operator would find it.
            QTimer::singleShot(0, this, [this] { drive(); });
        }
        return false;
    }

private:
    void drive()
    {
        const QString outcome = step_ == QLatin1String("remember") ? remember() : recall();
        QFile report(qEnvironmentVariable("ORV_DRIVE_REPORT"));
        if (report.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            report.write(outcome.toUtf8() + '\n');
        }
        if (console_) {
            console_->reject();
        }
    }

    QString remember()
    {
        const QList<QLineEdit*> fields = octets(console_);
        const QStringList parts = address_.split(QLatin1Char('.'));
        auto* user = qobject_cast<QLineEdit*>(control(console_, orv::idc::kUserName));
        auto* password = qobject_cast<QLineEdit*>(control(console_, orv::idc::kPassword));
        auto* hold = qobject_cast<QAbstractButton*>(control(console_, orv::idc::kHold));
        auto* language = qobject_cast<QComboBox*>(control(console_, orv::idc::kLanguage));
        if (fields.size() != 4 || parts.size() != 4 || !user || !password || !hold || !language) {
            return QStringLiteral("the login controls are not where they belong");
        }
        for (int i = 0; i < 4; ++i) {
            fields[i]->setText(parts[i]);
        }
        user->setText(QStringLiteral("admin"));
        password->setText(QStringLiteral("wrenq"));
        hold->setChecked(true);
        language->setCurrentIndex(kEnglish);
        emit language->activated(kEnglish);
        return login();
    }

    QString recall()
    {
        QStringList shown;
        for (QLineEdit* field : octets(console_)) {
            shown << field->text();
        }
        auto* user = qobject_cast<QLineEdit*>(control(console_, orv::idc::kUserName));
        auto* hold = qobject_cast<QAbstractButton*>(control(console_, orv::idc::kHold));
        auto* language = qobject_cast<QComboBox*>(control(console_, orv::idc::kLanguage));
        if (shown.join(QLatin1Char('.')) != address_) {
            return QStringLiteral("address shown: ") + shown.join(QLatin1Char('.'));
        }
        if (!user || user->text() != QLatin1String("admin") || !hold || !hold->isChecked()) {
            return QStringLiteral("the remembered user or Hold did not come back");
        }
        if (!language || language->currentIndex() != kEnglish) {
            return QStringLiteral("language shown: %1").arg(language ? language->currentIndex() : -1);
        }
        return login();
    }

    // Login runs to its end inside the click; its log line arrives through the event loop.
    QString login()
    {
        auto* button = qobject_cast<QAbstractButton*>(control(console_, orv::idc::kLogin));
        auto* log = qobject_cast<QPlainTextEdit*>(control(console_, orv::idc::kLog));
        if (!button || !log) {
            return QStringLiteral("no Login button or log box");
        }
        button->click();
        QCoreApplication::processEvents();
        if (!log->toPlainText().contains(QLatin1String("login success"))) {
            return QStringLiteral("login failed; log: ") + log->toPlainText();
        }
        return QStringLiteral("ok");
    }

    QString step_;
    QString address_;
    QPointer<QDialog> console_;
};

} // namespace

class ConsoleDriverPlugin : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "console_driver.json")
public:
    QObject* create(const QString& key, const QString& argument) override
    {
        const QStringList parts = argument.split(QLatin1Char(':'));
        if (key != QLatin1String("orvdrive") || parts.size() != 2) {
            return nullptr;
        }
        return new ConsoleDriver(parts[0], parts[1]);
    }
};

#include "console_driver.moc"
