// Writes the console's drawn icon as an .ico file for the Windows resources (icon 128), so that
// Explorer, the taskbar and the installer's shortcuts show the same camera as the window does.
//   orv-icon-file OUTPUT.ico
// Every image is stored as PNG, which icon files hold since Windows Vista.

#include "dialogkit/app_icon.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QSaveFile>

#include <array>
#include <cstdio>

namespace {

void appendLittleEndian(QByteArray& out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

QByteArray pngOfIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        orv::applicationIcon().paint(&painter, image.rect());
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

} // namespace

int main(int argc, char* argv[])
{
    // Painting into an image needs no window system, so no application object either.
    if (argc != 2) {
        std::fputs("usage: orv-icon-file OUTPUT.ico\n", stderr);
        return 2;
    }
    constexpr std::array sizes{16, 20, 24, 32, 40, 48, 64, 256};
    QList<QByteArray> images;
    for (int size : sizes) {
        images.append(pngOfIcon(size));
    }
    constexpr int kHeader = 6;
    constexpr int kEntry = 16;
    QByteArray ico;
    appendLittleEndian(ico, 0, 2); // reserved
    appendLittleEndian(ico, 1, 2); // an icon, not a cursor
    appendLittleEndian(ico, static_cast<quint32>(sizes.size()), 2);
    quint32 offset = kHeader + kEntry * static_cast<quint32>(sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const auto side = static_cast<quint32>(sizes[i] >= 256 ? 0 : sizes[i]); // 0 stands for 256
        appendLittleEndian(ico, side, 1);
        appendLittleEndian(ico, side, 1);
        appendLittleEndian(ico, 0, 1);  // no palette
        appendLittleEndian(ico, 0, 1);  // reserved
        appendLittleEndian(ico, 1, 2);  // colour planes
        appendLittleEndian(ico, 32, 2); // bits per pixel
        appendLittleEndian(ico, static_cast<quint32>(images[static_cast<qsizetype>(i)].size()), 4);
        appendLittleEndian(ico, offset, 4);
        offset += static_cast<quint32>(images[static_cast<qsizetype>(i)].size());
    }
    for (const QByteArray& png : images) {
        ico.append(png);
    }
    QSaveFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::WriteOnly) || file.write(ico) != ico.size() || !file.commit()) {
        std::fprintf(stderr, "orv-icon-file: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
