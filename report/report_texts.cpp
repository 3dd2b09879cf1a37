#include "report/report_texts.h"

#include <QLocale>

#include <array>

namespace orv::report {
namespace {

struct Row
{
    ReportText text;
    const char* simplified;
    const char* traditional;
    const char* english;
};

// clang-format off
constexpr Row kRows[] = {
    {ReportText::Title, "执法记录仪监管链报告", "執法記錄儀監管鏈報告", "Chain-of-custody report"},
    {ReportText::SubjectCamera, "记录仪 %1", "記錄儀 %1", "Camera %1"},
    {ReportText::SubjectOfficer, "警员 %1", "警員 %1", "Officer %1"},
    {ReportText::PageOf, "第 %1 页，共 %2 页", "第 %1 頁，共 %2 頁", "Page %1 of %2"},
    {ReportText::FooterOrigin, "台账标识：%1", "台帳標識：%1", "Ledger origin: %1"},
    {ReportText::Continued, "（续）", "（續）", "(continued)"},
    {ReportText::AskedHeading, "查询内容", "查詢內容", "What was asked"},
    {ReportText::Camera, "记录仪", "記錄儀", "Camera"},
    {ReportText::Officer, "警员", "警員", "Officer"},
    {ReportText::Period, "时间范围", "時間範圍", "Period"},
    {ReportText::PeriodOpenStart, "最早的事件", "最早的事件", "the first event"},
    {ReportText::PeriodOpenEnd, "最新的事件", "最新的事件", "the last event"},
    {ReportText::MadeAt, "报告生成时间", "報告產生時間", "Report made"},
    {ReportText::MadeBy, "生成人", "產生人", "Made by"},
    {ReportText::Station, "工作站", "工作站", "Station"},
    {ReportText::Program, "程序", "程式", "Program"},
    {ReportText::Ledger, "台账", "台帳", "Ledger"},
    {ReportText::Origin, "台账标识", "台帳標識", "Ledger origin"},
    {ReportText::EventsListed, "本报告列出 %1 个事件（台账共 %2 个）", "本報告列出 %1 個事件（台帳共 %2 個）",
     "%1 events listed, of %2 in the ledger"},
    {ReportText::IntervalsHeading, "配发记录", "配發記錄", "Assignments"},
    {ReportText::NoIntervals, "台账中没有这段时间的配发记录。", "台帳中沒有這段時間的配發記錄。",
     "The ledger records no assignment in this period."},
    {ReportText::ColumnOfficer, "警员", "警員", "Officer"},
    {ReportText::ColumnCamera, "记录仪", "記錄儀", "Camera"},
    {ReportText::ColumnUnit, "单位", "單位", "Unit"},
    {ReportText::ColumnFrom, "起", "起", "From"},
    {ReportText::ColumnUntil, "止", "止", "Until"},
    {ReportText::Still, "至今", "至今", "still"},
    {ReportText::EventsHeading, "事件", "事件", "Events"},
    {ReportText::NoEvents, "台账中没有这段时间的事件。", "台帳中沒有這段時間的事件。",
     "The ledger holds no event in this period."},
    {ReportText::EventNumber, "事件 %1", "事件 %1", "Event %1"},
    {ReportText::Time, "时间（本地 / UTC）", "時間（本地 / UTC）", "Time (local / UTC)"},
    {ReportText::KindResult, "类型与结果", "類型與結果", "Kind and result"},
    {ReportText::CameraWhere, "记录仪与连接", "記錄儀與連接", "Camera and link"},
    {ReportText::StationOperatorTool, "工作站 / 操作员 / 工具", "工作站 / 操作員 / 工具", "Station / operator / tool"},
    {ReportText::GroupsWritten, "写入的设置", "寫入的設定", "Groups written"},
    {ReportText::OfficerBeforeAfter, "警员（之前 → 之后）", "警員（之前 → 之後）", "Officer (before → after)"},
    {ReportText::UnitBeforeAfter, "单位（之前 → 之后）", "單位（之前 → 之後）", "Unit (before → after)"},
    {ReportText::SetupFile, "配置文件及其 SHA-256", "設定檔及其 SHA-256", "Setup file and its SHA-256"},
    {ReportText::Differences, "差异", "差異", "Differences"},
    {ReportText::ProofAt, "证明：附录 %1", "證明：附錄 %1", "Proof: appendix %1"},
    {ReportText::NotProved, "不在已签名的台账中", "不在已簽名的台帳中", "NOT IN THE SIGNED LEDGER"},
    {ReportText::VerificationHeading, "核验结果", "核驗結果", "Verification"},
    {ReportText::VerifiedSummary,
     "台账完整：已核对 %1 个事件的链式哈希和 %2 个由受信任密钥签名的检查点；已签名覆盖到第 %3 个事件。",
     "台帳完整：已核對 %1 個事件的鏈式雜湊和 %2 個由受信任金鑰簽名的檢查點；已簽名涵蓋到第 %3 個事件。",
     "The ledger is intact: the chain of %1 events and %2 checkpoints signed by trusted keys were checked; "
     "the signatures cover the events up to number %3."},
    {ReportText::WitnessedSummary, "独立见证人 %2 已副署到第 %1 个事件。", "獨立見證人 %2 已副署到第 %1 個事件。",
     "Independent witnesses (%2) countersigned the events up to number %1."},
    {ReportText::NotWitnessed, "没有独立见证人副署。", "沒有獨立見證人副署。",
     "No independent witness countersigned the ledger."},
    {ReportText::BrokenWarning, "警告：本报告所依据的台账未通过核验。下列事件无法证明与工作站签名时一致。",
     "警告：本報告所依據的台帳未通過核驗。下列事件無法證明與工作站簽名時一致。",
     "WARNING: this report was made from a ledger that does not verify. The events it lists cannot be "
     "shown to be those the stations signed."},
    {ReportText::BrokenReason, "发现的问题：%1", "發現的問題：%1", "What was found: %1"},
    {ReportText::UnprovenEvents, "%1 个列出的事件不在已签名的台账中。", "%1 個列出的事件不在已簽名的台帳中。",
     "%1 of the events listed are not in the signed ledger."},
    {ReportText::UnreadableEvents, "无法读取的事件：%1", "無法讀取的事件：%1", "Events that could not be read: %1"},
    {ReportText::FindingsHeading, "核验程序记录的细节（英文）", "核驗程式記錄的細節（英文）",
     "Details, as the verifier wrote them"},
    {ReportText::CheckpointHeading, "已签名的检查点", "已簽名的檢查點", "Signed checkpoint"},
    {ReportText::CheckpointSize, "覆盖的事件数（从第 1 个起）", "涵蓋的事件數（從第 1 個起）", "Events covered (from event 1)"},
    {ReportText::CheckpointRoot, "默克尔树根", "默克爾樹根", "Tree root"},
    {ReportText::NoCheckpoint, "台账中没有受信任密钥签名的检查点。", "台帳中沒有受信任金鑰簽名的檢查點。",
     "The ledger holds no checkpoint signed by a trusted key."},
    {ReportText::Signatures, "检查点全文及全部签名", "檢查點全文及全部簽名", "The checkpoint with every signature"},
    {ReportText::SignerKeys, "签名所用的验证密钥", "簽名所用的驗證金鑰", "The verifier keys that signed it"},
    {ReportText::KeyName, "名称", "名稱", "Name"},
    {ReportText::KeyId, "密钥 ID", "金鑰 ID", "Key id"},
    {ReportText::KeyFingerprint, "指纹 (SHA-256)", "指紋 (SHA-256)", "Fingerprint (SHA-256)"},
    {ReportText::VerifierKey, "验证密钥", "驗證金鑰", "Verifier key"},
    {ReportText::AppendixHeading, "附录：各事件的包含证明", "附錄：各事件的包含證明", "Appendix: the proof of each event"},
    {ReportText::AppendixHowTo,
     "每个证明采用 C2SP tlog-proof 格式，原文照录；以 \\ 结尾的行在下一行继续。同样的证明以文件形式保存在本报告旁的 %1 "
     "文件夹中。核验方法：用独立渠道取得上面列出的验证密钥（比对指纹），然后运行 orvctl ledger verify-proof "
     "证明文件 --trusted 密钥文件，或使用任何实现该格式的工具。证明的 extra 行是该事件的规范形式，其 SHA-256 叶哈希须与检查点的树根一致。",
     "每個證明採用 C2SP tlog-proof 格式，原文照錄；以 \\ 結尾的行在下一行繼續。同樣的證明以檔案形式保存在本報告旁的 %1 "
     "資料夾中。核驗方法：以獨立管道取得上面列出的驗證金鑰（比對指紋），然後執行 orvctl ledger verify-proof "
     "證明檔 --trusted 金鑰檔，或使用任何實作該格式的工具。證明的 extra 行是該事件的規範形式，其 SHA-256 葉雜湊須與檢查點的樹根一致。",
     "Each proof is in the C2SP tlog-proof format, as it is; a line ending in \\ goes on in the next line. "
     "The same proofs are files in the folder %1 beside this report. To check one, obtain the verifier keys "
     "listed above through a channel of your own (compare the fingerprints), then run orvctl ledger "
     "verify-proof PROOF --trusted KEYS, or any implementation of the format. The proof's extra line is the "
     "event's canonical form: its leaf hash must lead to the checkpoint's root."},
    {ReportText::ProofOfEvent, "附录 %1", "附錄 %1", "Appendix %1"},
};
// clang-format on

static_assert(std::size(kRows) == static_cast<std::size_t>(ReportText::Count));

constexpr bool rowsInOrder()
{
    for (std::size_t i = 0; i < std::size(kRows); ++i) {
        if (static_cast<std::size_t>(kRows[i].text) != i) {
            return false;
        }
    }
    return true;
}
static_assert(rowsInOrder(), "the rows follow ReportText's order");

} // namespace

std::optional<ReportLanguage> reportLanguageNamed(std::string_view code)
{
    if (code == "zh_CN") {
        return ReportLanguage::SimplifiedChinese;
    }
    if (code == "zh_TW") {
        return ReportLanguage::TraditionalChinese;
    }
    if (code == "en") {
        return ReportLanguage::English;
    }
    return std::nullopt;
}

ReportLanguage systemReportLanguage()
{
    const QLocale locale = QLocale::system();
    if (locale.language() != QLocale::Chinese) {
        return ReportLanguage::English;
    }
    const QLocale::Territory t = locale.territory();
    const bool traditional = locale.script() == QLocale::TraditionalChineseScript || t == QLocale::Taiwan ||
                             t == QLocale::HongKong || t == QLocale::Macao;
    return traditional ? ReportLanguage::TraditionalChinese : ReportLanguage::SimplifiedChinese;
}

QString reportText(ReportText text, ReportLanguage language)
{
    const Row& row = kRows[static_cast<std::size_t>(text)];
    switch (language) {
    case ReportLanguage::SimplifiedChinese:
        return QString::fromUtf8(row.simplified);
    case ReportLanguage::TraditionalChinese:
        return QString::fromUtf8(row.traditional);
    case ReportLanguage::English:
        break;
    }
    return QString::fromUtf8(row.english);
}

} // namespace orv::report
