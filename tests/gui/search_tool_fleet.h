// Simulated cameras for the search tool's window tests, at loopback addresses of the test's own
// (the address list that stands in for the interfaces), and the small steps those tests share.
#pragma once

#include "link/records.h"
#include "persist/setup_document.h"
#include "searchtool/search_tool_dlg.h"
#include "tools/camsim/simulated_camera.h"

#include <QAbstractButton>
#include <QFile>
#include <QString>
#include <QTest>
#include <QTreeWidgetItem>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace orv::testing {

class SearchToolFleet
{
public:
    // Cameras at `subnet` + (firstHost + n), n from 1.
    SearchToolFleet(std::string subnet, int firstHost) : subnet_(std::move(subnet)), firstHost_(firstHost) {}

    std::vector<std::unique_ptr<camsim::SimulatedCamera>> cameras;
    std::vector<std::string> addresses;

    // Cameras CAM-1.. with the officer OLD-<n>; false when the addresses cannot be had. Cameras
    // that serve one connection refuse a second while one is open, as some real ones do.
    bool start(int count, bool oneConnection = false)
    {
        for (int n = 1; n <= count; ++n) {
            camsim::CameraOptions options;
            options.listenAddress = subnet_ + std::to_string(firstHost_ + n);
            options.sdkPort = 0;
            options.oneConnection = oneConnection;
            options.log = [](const std::string&) {};
            auto camera = std::make_unique<camsim::SimulatedCamera>(options);
            if (!camera->start()) {
                return false;
            }
            DeviceRecord device = camera->config<DeviceRecord>();
            const std::u16string number = QString::number(n).toStdU16String();
            device.setText(DeviceRecord::deviceId, u"CAM-" + number);
            device.setText(DeviceRecord::policeId, u"OLD-" + number);
            camera->setConfig(device);
            camera->clearReceivedFrames();
            addresses.push_back(options.listenAddress);
            cameras.push_back(std::move(camera));
        }
        return true;
    }

    search::SearchToolOptions options(const QString& ledger, std::uint8_t language = 2) const
    {
        using namespace std::chrono_literals;
        search::SearchToolOptions o;
        o.plan.cameraAddresses = addresses;
        o.poll = 100ms;
        o.timeout = 2000ms;
        o.language = language;
        o.ledgerLocation = ledger;
        return o;
    }

private:
    std::string subnet_;
    int firstHost_;
};

// The unit's setup file the tests apply: Wi-Fi "Unit Wifi" and the officer SETUP-P.
inline bool saveUnitSetup(const QString& path)
{
    SetupValues setup;
    setup.ssid = u"Unit Wifi";
    setup.wifiPassword = u"unit-secret";
    setup.policeId = u"SETUP-P";
    return saveSetupFile(path.toStdU16String(), setup);
}

inline QString cell(search::CSearchToolDlg& dialog, const std::string& where, search::Column column)
{
    QTreeWidgetItem* row = dialog.rowOf(QString::fromStdString(where));
    return row ? row->text(column) : QStringLiteral("<no row>");
}

inline std::size_t setConfigFrames(const camsim::SimulatedCamera& camera)
{
    const auto frames = camera.receivedFrames();
    return static_cast<std::size_t>(std::count_if(frames.begin(), frames.end(), [](const camsim::ReceivedFrame& f) {
        return f.command == static_cast<std::uint16_t>(Command::SetConfig);
    }));
}

inline std::size_t setConfigFrames(const SearchToolFleet& fleet)
{
    std::size_t frames = 0;
    for (const auto& camera : fleet.cameras) {
        frames += setConfigFrames(*camera);
    }
    return frames;
}

inline void click(search::CSearchToolDlg& dialog, int id)
{
    auto* button = dialog.dlgItem<QAbstractButton>(id);
    QVERIFY(button && button->isEnabled());
    button->click();
}

// Opens the window, waits until every camera of `fleet` is ready (10 s at most), then chooses the
// setup file and the inventory. False when the window did not open or a camera was not ready.
inline bool openReady(search::CSearchToolDlg& dialog, const SearchToolFleet& fleet, const QString& setupFile,
                      const QString& inventoryFile)
{
    if (!dialog.Create()) {
        return false;
    }
    for (const std::string& where : fleet.addresses) {
        if (!QTest::qWaitFor([&] { return cell(dialog, where, search::ColumnState) == QStringLiteral("ready"); },
                             10000)) {
            return false;
        }
    }
    dialog.setDlgItemText(search::sid::kSetupFile, setupFile);
    dialog.setDlgItemText(search::sid::kInventoryFile, inventoryFile);
    return true;
}

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace orv::testing
