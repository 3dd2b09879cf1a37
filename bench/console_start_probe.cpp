// The floors of the console's start-up: programs started the way the console is (offscreen, from
// the same folder) that say "shown WxH" on standard output once their dialog is on screen, and end.
//   bare_dialog_probe bare WIDTH HEIGHT   an empty dialog of the console's size
//   bare_dialog_probe straight            the console's 89 controls, same kinds and places,
//                                         written as plain Qt code (no template, no builder)

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

enum class C { PushButton, Edit, MultiLineEdit, ComboBox, IpAddress, CheckBox, GroupBox, Label };
constexpr int kHidden = 1;
constexpr int kLabelLeft = 2;

struct Control
{
    C kind;
    const char* caption;
    int x, y, w, h; // dialog units
    int style;
};

// The console's controls in creation order, generated from its template.
const Control kControls[] = {
    {C::ComboBox, "", 102, 15, 75, 30, 0},
    {C::IpAddress, "", 102, 33, 75, 14, 0},
    {C::Edit, "", 102, 53, 75, 14, 0},
    {C::Edit, "", 102, 72, 75, 14, 0},
    {C::PushButton, "Login", 102, 89, 70, 14, 0},
    {C::Edit, "", 21, 107, 70, 14, 0},
    {C::PushButton, "Change Passwd", 102, 107, 70, 14, 0},
    {C::PushButton, "U Disk", 21, 147, 70, 14, 0},
    {C::PushButton, "Time Sync", 102, 147, 70, 14, 0},
    {C::PushButton, "Factory", 21, 165, 70, 14, 0},
    {C::PushButton, "Format Disk", 102, 165, 70, 14, 0},
    {C::PushButton, "Upgrade", 102, 199, 70, 14, kHidden},
    {C::CheckBox, "U Identify", 118, 185, 50, 10, kLabelLeft},
    {C::ComboBox, "", 102, 236, 75, 30, 0},
    {C::Edit, "", 102, 272, 75, 14, 0},
    {C::Edit, "", 102, 291, 75, 14, 0},
    {C::Edit, "", 102, 309, 75, 14, 0},
    {C::PushButton, "Get", 21, 347, 70, 14, 0},
    {C::PushButton, "Set", 102, 347, 74, 14, 0},
    {C::Edit, "", 315, 15, 75, 14, 0},
    {C::Edit, "", 315, 37, 75, 14, 0},
    {C::Edit, "", 315, 57, 75, 14, 0},
    {C::PushButton, "Get", 233, 79, 70, 14, 0},
    {C::PushButton, "Set", 315, 79, 70, 14, 0},
    {C::Edit, "", 315, 122, 75, 14, 0},
    {C::Edit, "", 315, 140, 75, 14, 0},
    {C::ComboBox, "", 315, 157, 75, 30, 0},
    {C::PushButton, "Get", 233, 174, 70, 14, 0},
    {C::PushButton, "Set", 315, 174, 70, 14, 0},
    {C::Edit, "", 315, 220, 75, 14, 0},
    {C::Edit, "", 315, 239, 75, 14, 0},
    {C::Edit, "", 315, 256, 75, 14, 0},
    {C::Edit, "", 315, 275, 75, 14, 0},
    {C::Edit, "", 315, 293, 75, 14, 0},
    {C::PushButton, "Export", 316, 327, 75, 14, 0},
    {C::PushButton, "Get", 231, 347, 75, 14, 0},
    {C::PushButton, "Set", 315, 347, 75, 14, 0},
    {C::CheckBox, "Summer Time", 431, 18, 59, 10, kLabelLeft},
    {C::ComboBox, "", 482, 38, 130, 30, 0},
    {C::PushButton, "Get", 445, 58, 70, 14, 0},
    {C::PushButton, "Set", 525, 58, 70, 14, 0},
    {C::PushButton, "Save Setup", 445, 184, 70, 14, 0},
    {C::PushButton, "Load Setup", 525, 184, 70, 14, 0},
    {C::PushButton, "Clear", 445, 347, 70, 14, 0},
    {C::PushButton, "Save", 525, 347, 70, 14, 0},
    {C::GroupBox, "Time", 421, 3, 199, 77, 0},
    {C::GroupBox, "User", 7, 3, 200, 123, 0},
    {C::Label, "Username", 39, 53, 33, 8, 0},
    {C::Label, "Password", 39, 72, 32, 8, 0},
    {C::CheckBox, "Hold", 39, 89, 30, 10, 0},
    {C::GroupBox, "Platform", 7, 224, 200, 142, 0},
    {C::Label, "Platform", 39, 236, 57, 8, 0},
    {C::Label, "Server Ip", 39, 255, 31, 8, 0},
    {C::Label, "Port", 39, 272, 51, 8, 0},
    {C::Label, "RTS ID", 39, 291, 23, 8, 0},
    {C::Label, "Auth Code", 39, 309, 35, 8, 0},
    {C::GroupBox, "4G", 214, 3, 200, 99, 0},
    {C::Label, "APN", 240, 17, 14, 8, 0},
    {C::GroupBox, "Function", 7, 130, 200, 90, 0},
    {C::Label, "Username", 240, 37, 66, 8, 0},
    {C::Label, "Password", 240, 57, 32, 8, 0},
    {C::GroupBox, "Wifi", 213, 107, 200, 91, 0},
    {C::Label, "SSID", 240, 123, 16, 8, 0},
    {C::Label, "Password", 240, 140, 32, 8, 0},
    {C::Label, "Wifi List", 240, 157, 63, 8, 0},
    {C::GroupBox, "Device Info", 214, 202, 200, 164, 0},
    {C::Label, "Device Id", 240, 222, 65, 8, 0},
    {C::Label, "User Id", 240, 239, 67, 8, 0},
    {C::Label, "User Name", 240, 256, 67, 8, 0},
    {C::Label, "Co Id", 240, 275, 64, 8, 0},
    {C::Label, "Co Name", 240, 293, 62, 8, 0},
    {C::MultiLineEdit, "", 422, 206, 198, 116, 0},
    {C::Label, "Language", 40, 16, 32, 8, 0},
    {C::Label, "IP", 40, 36, 8, 8, 0},
    {C::Label, "Time Zone", 431, 41, 34, 8, 0},
    {C::PushButton, "Batch", 21, 183, 70, 14, 0},
    {C::PushButton, "RNDIS", 21, 200, 70, 14, 0},
    {C::GroupBox, "GB28181", 421, 83, 199, 94, 0},
    {C::CheckBox, "Proxy Enable", 449, 100, 82, 10, kLabelLeft},
    {C::PushButton, "Get", 445, 155, 70, 14, 0},
    {C::PushButton, "Set", 525, 155, 70, 14, 0},
    {C::Label, "Proxy Ip", 449, 116, 28, 8, 0},
    {C::Label, "Proxy Port", 449, 134, 51, 8, 0},
    {C::Edit, "", 522, 115, 75, 14, 0},
    {C::Edit, "", 522, 134, 75, 14, 0},
    {C::PushButton, "GB28181", 102, 327, 74, 14, 0},
    {C::Edit, "", 102, 253, 75, 14, 0},
    {C::Edit, "", 315, 310, 75, 14, 0},
    {C::Label, "Sceen Psk", 240, 310, 62, 8, 0},
};

// Rows of the console's three combo boxes in the order above: language, platform, Wifi list, time zone.
const int kComboRows[] = {3, 2, 0, 25};

// Reports as the console does under ORV_REPORT_SHOWN (app/main.cpp): after the first expose
// event, that is after the first paint, has been handled.
class ShownReporter : public QObject
{
public:
    explicit ShownReporter(QDialog& dialog)
        : dialog_(dialog)
    {
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!done_ && event->type() == QEvent::Expose && watched == dialog_.windowHandle() &&
            dialog_.windowHandle()->isExposed()) {
            done_ = true;
            QTimer::singleShot(0, this, [this] {
                std::printf("shown %dx%d\n", dialog_.width(), dialog_.height());
                std::fflush(stdout);
                dialog_.done(0);
            });
        }
        return false;
    }

private:
    QDialog& dialog_;
    bool done_ = false;
};

QWidget* addressEdit(QWidget* parent)
{
    auto* frame = new QFrame(parent);
    frame->setFrameShape(QFrame::StyledPanel);
    auto* row = new QHBoxLayout(frame);
    row->setContentsMargins(1, 1, 1, 1);
    row->setSpacing(0);
    for (int octet = 0; octet < 4; ++octet) {
        auto* edit = new QLineEdit(frame);
        edit->setFrame(false);
        edit->setMaxLength(3);
        edit->setAlignment(Qt::AlignCenter);
        row->addWidget(edit);
        if (octet < 3) {
            row->addWidget(new QLabel(QStringLiteral("."), frame));
        }
    }
    return frame;
}

void buildStraight(QDialog& dialog)
{
    const QFontMetrics metrics(dialog.font());
    const int unitX =
        (metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 26 + 1) /
        2;
    const int unitY = metrics.height();
    const auto px = [](int v, int unit, int per) { return (v * unit + per / 2) / per; };
    dialog.setFixedSize(px(628, unitX, 4), px(373, unitY, 8));
    std::vector<QWidget*> groups;
    int combo = 0;
    for (const Control& c : kControls) {
        const QString caption = QString::fromUtf8(c.caption);
        QWidget* w = nullptr;
        switch (c.kind) {
            case C::PushButton:
                w = new QPushButton(caption, &dialog);
                break;
            case C::Edit:
                w = new QLineEdit(&dialog);
                break;
            case C::MultiLineEdit: {
                auto* log = new QPlainTextEdit(&dialog);
                log->setReadOnly(true);
                log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
                log->setPlainText(QStringLiteral("[2018-03-05 14:07:09] program startup ..."));
                w = log;
                break;
            }
            case C::ComboBox: {
                auto* box = new QComboBox(&dialog);
                for (int row = 0; row < kComboRows[combo]; ++row) {
                    box->addItem(QStringLiteral("row %1").arg(row));
                }
                ++combo;
                w = box;
                break;
            }
            case C::IpAddress:
                w = addressEdit(&dialog);
                break;
            case C::CheckBox: {
                auto* box = new QCheckBox(caption, &dialog);
                if (c.style & kLabelLeft) {
                    box->setLayoutDirection(Qt::RightToLeft);
                }
                w = box;
                break;
            }
            case C::GroupBox:
                w = new QGroupBox(caption, &dialog);
                groups.push_back(w);
                break;
            case C::Label:
                w = new QLabel(caption, &dialog);
                break;
        }
        int height = px(c.h, unitY, 8);
        if (c.kind == C::ComboBox) {
            height = std::min(height, w->sizeHint().height());
        }
        w->setGeometry(px(c.x, unitX, 4), px(c.y, unitY, 8), px(c.w, unitX, 4), height);
        if (c.style & kHidden) {
            w->hide();
        }
    }
    for (QWidget* group : groups) {
        group->lower();
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    QDialog dialog;
    if (argc == 4 && std::strcmp(argv[1], "bare") == 0) {
        dialog.setFixedSize(std::atoi(argv[2]), std::atoi(argv[3]));
    } else if (argc == 2 && std::strcmp(argv[1], "straight") == 0) {
        buildStraight(dialog);
    } else {
        std::fprintf(stderr, "usage: bare_dialog_probe bare WIDTH HEIGHT | straight\n");
        return 2;
    }
    ShownReporter reporter(dialog);
    application.installEventFilter(&reporter);
    dialog.exec();
    return 0;
}
