#include "searchtool/search_tool_texts.h"

#include "lang/language_texts.h"

#include <array>
#include <string_view>

namespace orv::search {
namespace {

struct Row
{
    SearchText text;
    std::u16string_view simplified;
    std::u16string_view traditional;
    std::u16string_view english;
};

using T = SearchText;

// In the order of SearchText; searchText checks that every row sits at its own index.
constexpr std::array<Row, static_cast<std::size_t>(T::Count)> kRows{{
    {T::Title, u"SearchTool", u"SearchTool", u"SearchTool"},
    {T::CamerasLabel, u"已连接的摄像机", u"已連接的攝像機", u"Cameras attached"},
    {T::SetupLabel, u"配置文件", u"配置檔案", u"Setup file"},
    {T::RosterLabel, u"警员名单", u"警員名單", u"Roster"},
    {T::InventoryLabel, u"记录文件", u"記錄檔案", u"Inventory"},
    {T::UserLabel, u"用户名", u"用戶名", u"User"},
    {T::PasswordLabel, u"密码", u"密碼", u"Password"},
    {T::NotOnRosterCheck, u"不在名单上的摄像机也按配置文件设置", u"不在名單上的攝像機也按配置檔案設置",
     u"Also set cameras not on the roster"},
    {T::Browse, u"浏览...", u"瀏覽...", u"Browse..."},
    {T::ApplyAll, u"全部设置", u"全部設置", u"Apply to all"},
    {T::ApplySelected, u"设置所选", u"設置所選", u"Apply to selected"},
    {T::Stop, u"停止", u"停止", u"Stop"},
    {T::Close, u"关闭", u"關閉", u"Close"},
    {T::ColumnWhere, u"网卡或地址", u"網卡或地址", u"Interface or address"},
    {T::ColumnDeviceId, u"设备编号", u"設備編號", u"Device ID"},
    {T::ColumnOfficerId, u"警员编号", u"警員編號", u"Officer ID"},
    {T::ColumnOfficerName, u"警员姓名", u"警員姓名", u"Officer name"},
    {T::ColumnState, u"状态", u"狀態", u"State"},
    {T::ColumnResult, u"结果", u"結果", u"Result"},
    {T::StateFound, u"已发现", u"已發現", u"found"},
    {T::StateReady, u"就绪", u"就緒", u"ready"},
    {T::StateNoId, u"无法识别", u"無法識別", u"not identified"},
    {T::StateGone, u"已断开", u"已斷開", u"gone"},
    {T::StateQueued, u"等待中", u"等待中", u"waiting"},
    {T::StateConnecting, u"连接中", u"連接中", u"connecting"},
    {T::StateLoggingIn, u"登录中", u"登錄中", u"logging in"},
    {T::StateIdentifying, u"读取设备编号", u"讀取設備編號", u"reading the device id"},
    {T::StateSending, u"发送 %1", u"發送 %1", u"sending %1"},
    {T::StateReadingBack, u"回读 %1", u"回讀 %1", u"reading back %1"},
    {T::StateDone, u"完成", u"完成", u"done"},
    {T::ResultOk, u"成功", u"成功", u"ok"},
    {T::ResultDiffers, u"回读不一致: %1", u"回讀不一致: %1", u"differs: %1"},
    {T::ResultNotOnRoster, u"不在名单上", u"不在名單上", u"not on the roster"},
    {T::ResultStopped, u"已停止", u"已停止", u"stopped"},
    {T::ResultLoginRefused, u"登录失败", u"登錄失敗", u"login refused"},
    {T::ResultUnreachable, u"失败: %1", u"失敗: %1", u"failed: %1"},
    {T::StatusCameras, u"%1 台摄像机, %2 台正在设置", u"%1 台攝像機, %2 台正在設置", u"%1 cameras, %2 at work"},
    {T::StatusLooking, u"正在查找摄像机 ...", u"正在查找攝像機 ...", u"Looking for cameras ..."},
    {T::StatusStopping, u"正在停止, 每台摄像机完成当前步骤 ...", u"正在停止, 每台攝像機完成當前步驟 ...",
     u"Stopping: each camera finishes its current step ..."},
    {T::ChooseSetupTitle, u"选择配置文件", u"選擇配置檔案", u"Choose the setup file"},
    {T::ChooseRosterTitle, u"选择警员名单", u"選擇警員名單", u"Choose the roster"},
    {T::ChooseInventoryTitle, u"选择记录文件", u"選擇記錄檔案", u"Choose the inventory file"},
    {T::SetupFilter, u"配置文件(*.xml)|*.xml|所有文件(*.*)|*.*||", u"配置檔案(*.xml)|*.xml|所有檔案(*.*)|*.*||",
     u"Setup files (*.xml)|*.xml|All files (*.*)|*.*||"},
    {T::RosterFilter, u"CSV 文件(*.csv)|*.csv|所有文件(*.*)|*.*||", u"CSV 檔案(*.csv)|*.csv|所有檔案(*.*)|*.*||",
     u"CSV files (*.csv)|*.csv|All files (*.*)|*.*||"},
    {T::InventoryFilter, u"CSV 文件(*.csv)|*.csv||", u"CSV 檔案(*.csv)|*.csv||", u"CSV files (*.csv)|*.csv||"},
    {T::NoSetup, u"请先选择配置文件或警员名单。", u"請先選擇配置檔案或警員名單。", u"Choose a setup file or a roster first."},
    {T::SetupUnreadable, u"无法读取配置文件 %1: %2", u"無法讀取配置檔案 %1: %2",
     u"The setup file %1 cannot be read: %2"},
    {T::SetupEmpty, u"配置文件 %1 没有可设置的内容。", u"配置檔案 %1 沒有可設置的內容。",
     u"The setup file %1 holds nothing to set."},
    {T::RosterRefused, u"警员名单 %1 有错误, 未发送任何设置:\n%2", u"警員名單 %1 有錯誤, 未發送任何設置:\n%2",
     u"The roster %1 is refused; nothing was sent:\n%2"},
    {T::InventoryRefused, u"记录文件 %1 不可用, 未发送任何设置: %2", u"記錄檔案 %1 不可用, 未發送任何設置: %2",
     u"The inventory %1 cannot be used; nothing was sent: %2"},
    {T::InventoryFailed, u"无法写入记录文件 %1, 已停止。", u"無法寫入記錄檔案 %1, 已停止。",
     u"The inventory %1 cannot be written; stopped."},
    {T::NoneSelected, u"请先在列表中选择摄像机。", u"請先在列表中選擇攝像機。", u"Select cameras in the list first."},
    {T::NoCameras, u"没有可设置的摄像机。", u"沒有可設置的攝像機。", u"There is no camera ready to set."},
    {T::CheckAll, u"全部检查", u"全部檢查", u"Check all"},
    {T::RetryFailed, u"重试失败项", u"重試失敗項", u"Retry failed"},
    {T::ColumnClock, u"时钟偏差", u"時鐘偏差", u"Clock offset"},
    {T::ClockOffset, u"%1 秒", u"%1 秒", u"%1 s"},
    {T::Summary, u"%1 台摄像机: %2 台成功, %3 台回读不一致, %4 台失败, %5 台正在设置",
     u"%1 台攝像機: %2 台成功, %3 台回讀不一致, %4 台失敗, %5 台正在設置",
     u"%1 cameras: %2 ok, %3 differ, %4 failed, %5 at work"},
    {T::StateChecking, u"检查 %1", u"檢查 %1", u"checking %1"},
    {T::ResultCheckOk, u"检查: 一致", u"檢查: 一致", u"check: ok"},
    {T::ResultCheckDiffers, u"检查: 不一致: %1", u"檢查: 不一致: %1", u"check: differs: %1"},
    {T::ResultDuplicate, u"设备编号重复", u"設備編號重複", u"duplicate device id"},
    {T::DuplicateFlag, u"另一台已连接的摄像机报告了相同的设备编号 (%1), 两台都不分配名单上的警员。",
     u"另一台已連接的攝像機報告了相同的設備編號 (%1), 兩台都不分配名單上的警員。",
     u"Another camera attached reports the same device id (%1); neither is given a roster officer."},
    {T::NoRetry, u"已连接的摄像机中没有上次结果为失败的。", u"已連接的攝像機中沒有上次結果為失敗的。",
     u"No camera attached has a failed last outcome."},
    {T::WorkerFailed, u"无法启动工作线程: %1。未发送任何设置。", u"無法啟動工作線程: %1。未發送任何設置。",
     u"No worker thread could be started: %1. Nothing was sent."},
    {T::LedgerLabel, u"台账", u"台賬", u"Ledger"},
    {T::History, u"历史...", u"歷史...", u"History..."},
    {T::ColumnConfigured, u"上次设置", u"上次設置", u"Last configured"},
    {T::ConfiguredBy, u"%1 由 %2@%3", u"%1 由 %2@%3", u"%1 by %2@%3"},
    {T::ChooseLedgerTitle, u"选择台账文件", u"選擇台賬檔案", u"Choose the ledger file"},
    {T::LedgerFilter, u"台账文件 (*.db);;所有文件 (*)", u"台賬檔案 (*.db);;所有檔案 (*)",
     u"Ledger files (*.db);;All files (*)"},
    {T::StatusOpeningLedger, u"正在打开台账...", u"正在打開台賬...", u"Opening the ledger..."},
    {T::LedgerUnreachable, u"无法使用台账 %1: %2。未发送任何设置。", u"無法使用台賬 %1: %2。未發送任何設置。",
     u"The ledger %1 cannot be used: %2. Nothing was sent."},
    {T::LedgerLost, u"运行中台账丢失 (%1)。未再开始新的摄像机; %2 个结果只记录在记录文件中。",
     u"運行中台賬丟失 (%1)。未再開始新的攝像機; %2 個結果只記錄在記錄檔案中。",
     u"The ledger was lost during the run (%1). No further camera was started; %2 outcomes are in the "
     u"inventory only."},
    {T::LedgerHead, u"台账: 第 %1 条, %2", u"台賬: 第 %1 條, %2", u"Ledger: event %1, %2"},
    {T::HistoryTitle, u"摄像机 %1 的历史", u"攝像機 %1 的歷史", u"History of camera %1"},
    {T::HistoryOfficers, u"使用过的警员", u"使用過的警員", u"Officers"},
    {T::HistoryEvents, u"记录", u"記錄", u"Events"},
    {T::HistoryLoading, u"正在读取台账...", u"正在讀取台賬...", u"Reading the ledger..."},
    {T::HistoryProblem, u"无法读取台账: %1", u"無法讀取台賬: %1", u"The ledger cannot be read: %1"},
    {T::HistoryNoCamera, u"请先选择一台已识别的摄像机。", u"請先選擇一台已識別的攝像機。",
     u"Select one camera whose device id was read."},
    {T::HistoryTime, u"时间", u"時間", u"Time"},
    {T::HistoryKind, u"操作", u"操作", u"Kind"},
    {T::HistoryOfficer, u"警员编号", u"警員編號", u"Officer ID"},
    {T::HistoryUnit, u"单位", u"單位", u"Unit"},
    {T::HistoryResult, u"结果", u"結果", u"Result"},
    {T::HistoryStation, u"计算机", u"電腦", u"Station"},
    {T::HistoryOperator, u"操作员", u"操作員", u"Operator"},
    {T::HistoryWhere, u"网卡或地址", u"網卡或地址", u"Interface or address"},
    {T::HistorySetup, u"配置文件", u"配置檔案", u"Setup file"},
    {T::HistoryFrom, u"从", u"從", u"From"},
    {T::HistoryUntil, u"到", u"到", u"Until"},
    {T::HistoryStill, u"至今", u"至今", u"still"},
    {T::LedgerForked, u"台账的历史在本工作站上次看到之后被更改: %1。未发送任何设置。\n\n证据保存在 %2。",
     u"台賬的歷史在本工作站上次看到之後被更改: %1。未發送任何設置。\n\n證據保存在 %2。",
     u"The ledger's history changed since this station last saw it: %1. Nothing was sent.\n\nThe proof is kept "
     u"in %2."},
    {T::StationUnusable, u"本工作站无法为台账签名: %1。未发送任何设置。", u"本工作站無法為台賬簽名: %1。未發送任何設置。",
     u"This station cannot sign the ledger: %1. Nothing was sent."},
    {T::NoRoomForOutcomes, u"没有空间记录结果: %1。未发送任何设置; 请先在该磁盘上腾出空间。",
     u"沒有空間記錄結果: %1。未發送任何設置; 請先在該磁碟上騰出空間。",
     u"There is no room to record the outcomes: %1. Nothing was sent; make room on that disk first."},
    {T::CheckpointFailed, u"结果已记录在台账中, 但未能签署检查点: %1", u"結果已記錄在台賬中, 但未能簽署檢查點: %1",
     u"The outcomes are recorded in the ledger, but no checkpoint was signed: %1"},
    {T::LedgerRefused, u"不使用也不保存此台账位置: %1", u"不使用也不保存此台賬位置: %1",
     u"This ledger location is neither used nor remembered: %1"},
    {T::ReportOn, u"报告对象", u"報告對象", u"Report on"},
    {T::ReportCamera, u"摄像机 %1", u"攝像機 %1", u"Camera %1"},
    {T::ReportOfficer, u"警员 %1", u"警員 %1", u"Officer %1"},
    {T::SaveReport, u"保存报告...", u"保存報告...", u"Save report..."},
    {T::SaveReportTitle, u"保存监管链报告", u"保存監管鏈報告", u"Save the chain-of-custody report"},
    {T::ReportFilter, u"PDF 文件(*.pdf)|*.pdf||", u"PDF 檔案(*.pdf)|*.pdf||", u"PDF files (*.pdf)|*.pdf||"},
    {T::ReportWriting, u"正在生成报告...", u"正在生成報告...", u"Writing the report..."},
    {T::ReportWritten, u"已保存 %1: %2 页, SHA-256 %3", u"已保存 %1: %2 頁, SHA-256 %3",
     u"Wrote %1: %2 pages, SHA-256 %3"},
    {T::ReportNotSound, u"台账未通过核验: %2。报告 %1 已在第一页注明。", u"台賬未通過核驗: %2。報告 %1 已在第一頁註明。",
     u"The ledger does not hold: %2. The report %1 says so on its first page."},
    {T::ReportFailed, u"未保存报告: %1", u"未保存報告: %1", u"The report was not written: %1"},
    {T::ReportNotRecorded, u"报告未记录在台账中: %1", u"報告未記錄在台賬中: %1",
     u"The report is not recorded in the ledger: %1"},
    {T::ReportPeriodReversed, u"开始日期晚于结束日期。", u"開始日期晚於結束日期。", u"The period starts after it ends."},
    {T::StatusSpoolWaiting, u"台账: %1 条记录等待发送", u"台賬: %1 條記錄等待發送", u"Ledger: %1 events waiting"},
    {T::StatusSpoolUnreachable, u"台账: %1 条记录等待发送, 共享数据库自 %2 起无法连接 (%3)",
     u"台賬: %1 條記錄等待發送, 共享資料庫自 %2 起無法連接 (%3)",
     u"Ledger: %1 events waiting, shared database unreachable since %2 (%3)"},
    {T::StatusSpoolRefused, u"台账: %1 条记录等待发送, 共享数据库自 %2 起拒绝接收 (%3)",
     u"台賬: %1 條記錄等待發送, 共享資料庫自 %2 起拒絕接收 (%3)",
     u"Ledger: %1 events waiting, shared database refuses them since %2 (%3)"},
    {T::StatusSpoolProblem, u"台账: 无法读取本工作站的缓存: %1", u"台賬: 無法讀取本工作站的緩存: %1",
     u"Ledger: the station's spool cannot be read: %1"},
    {T::ConfiguredWaiting, u"(等待发送到共享台账)", u"(等待發送到共享台賬)", u"(waiting to be sent to the shared ledger)"},
    {T::HistoryShared, u"共享台账", u"共享台賬", u"Shared ledger"},
    {T::HistoryWaitingMark, u"等待发送", u"等待發送", u"waiting to be sent"},
    {T::HistorySharedUnread, u"无法读取共享台账: %1。标记为等待发送的记录仍在本工作站的缓存中。",
     u"無法讀取共享台賬: %1。標記為等待發送的記錄仍在本工作站的緩存中。",
     u"The shared ledger could not be read: %1. The events marked as waiting are still in this station's spool."},
}};

constexpr bool rowsInOrder()
{
    for (std::size_t i = 0; i < kRows.size(); ++i) {
        if (static_cast<std::size_t>(kRows[i].text) != i) {
            return false;
        }
    }
    return true;
}
static_assert(rowsInOrder(), "every text has its row, in the order of SearchText");

} // namespace

QString searchText(SearchText text, std::uint8_t language)
{
    const auto index = static_cast<std::size_t>(text);
    if (index >= kRows.size()) {
        return {};
    }
    const Row& row = kRows[index];
    switch (static_cast<Language>(validLanguage(language))) {
        case Language::TraditionalChinese:
            return QString::fromStdU16String(std::u16string(row.traditional));
        case Language::English:
            return QString::fromStdU16String(std::u16string(row.english));
        case Language::SimplifiedChinese:
            break;
    }
    return QString::fromStdU16String(std::u16string(row.simplified));
}

} // namespace orv::search
