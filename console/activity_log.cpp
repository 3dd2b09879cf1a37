#include "console/activity_log.h"

#include "dialogkit/qtext.h"
#include "lang/language_texts.h"
#include "link/local_clock.h"
#include "persist/append_file.h"
#include "persist/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <array>

namespace orv {
namespace {

using Row = std::array<std::u16string_view, kLogMessageCount>;

// Rows by language index: Simplified Chinese, Traditional Chinese, English. Message 28 ends with
// a lone line feed in every language.
constexpr std::array<Row, kLanguageCount> kMessages{{
    {{
        u"Orv工具启动 ...\r\n",
        u"登录成功 ...\r\n",
        u"登录失败 ...\r\n",
        u"修改密码成功 ...\r\n",
        u"修改密码失败 ...\r\n",
        u"保存用户信息 ...\r\n",
        u"U盘鉴权模式启动 ...\r\n",
        u"重启 ...\r\n",
        u"恢复出厂 ...\r\n",
        u"时间同步 ...\r\n",
        u"格式化SD卡 ...\r\n",
        u"开始升级 ...\r\n",
        u"升级中 ...\r\n",
        u"升级成功 ...\r\n",
        u"升级失败 ...\r\n",
        u"获取 %s 成功 ...\r\n",
        u"获取 %s 失败 ...\r\n",
        u"设置 %s 成功 ...\r\n",
        u"设置 %s 失败 ...\r\n",
        u"导出设备ID ...\r\n",
        u"清空日志 ...\r\n",
        u"保存日志 ...\r\n",
        u"加载用户配置成功 ...\r\n",
        u"加载用户配置失败 ...\r\n",
        u"保存用户配置 ...\r\n",
        u"打开 SearchTool 成功 ...\r\n",
        u"打开 SearchTool 失败 ...\r\n",
        u"关闭 SearchTool...\r\n",
        u"打开 rndis\n",
        u"时间同步失败 ...\r\n",
        u"U盘鉴权模式启动失败 ...\r\n",
        u"恢复出厂失败 ...\r\n",
        u"格式化SD卡失败 ...\r\n",
        u"保存日志失败: %s ...\r\n",
        u"导出设备ID失败: %s ...\r\n",
        u"保存用户配置失败: %s ...\r\n",
        u"写入台账失败: %s ...\r\n",
        u"共享台账无法连接, 自 %s 起; 事件暂存于本机缓存 ...\r\n",
        u"共享台账已连接, 已转发缓存事件 %s 条 ...\r\n",
    }},
    {{
        u"Orv工具啟動 ...\r\n",
        u"登錄成功 ...\r\n",
        u"登錄失敗 ...\r\n",
        u"修改密碼成功 ...\r\n",
        u"修改密碼失敗 ...\r\n",
        u"保存用戶信息 ...\r\n",
        u"U盤鑒權模式啟動 ...\r\n",
        u"重啟 ...\r\n",
        u"恢復出廠 ...\r\n",
        u"時間同步 ...\r\n",
        u"格式化SD卡 ...\r\n",
        u"升級開始 ...\r\n",
        u"升級中 ...\r\n",
        u"升級成功 ...\r\n",
        u"升級失敗 ...\r\n",
        u"獲取 %s 成功 ...\r\n",
        u"獲取 %s 失敗 ...\r\n",
        u"設置 %s 成功 ...\r\n",
        u"設置 %s 失敗 ...\r\n",
        u"導出設備ID ...\r\n",
        u"清空日誌 ...\r\n",
        u"保存日誌 ...\r\n",
        u"加載用戶配置成功 ...\r\n",
        u"加載用戶配置失敗 ...\r\n",
        u"保存用戶配置 ...\r\n",
        u"打開 SearchTool 成功 ...\r\n",
        u"打開 SearchTool 失敗 ...\r\n",
        u"關閉 SearchTool...\r\n",
        u"打開 rndis\n",
        u"時間同步失敗 ...\r\n",
        u"U盤鑒權模式啟動失敗 ...\r\n",
        u"恢復出廠失敗 ...\r\n",
        u"格式化SD卡失敗 ...\r\n",
        u"保存日誌失敗: %s ...\r\n",
        u"導出設備ID失敗: %s ...\r\n",
        u"保存用戶配置失敗: %s ...\r\n",
        u"寫入台賬失敗: %s ...\r\n",
        u"共享台賬無法連接, 自 %s 起; 事件暫存於本機緩存 ...\r\n",
        u"共享台賬已連接, 已轉發緩存事件 %s 條 ...\r\n",
    }},
    {{
        u"program startup ...\r\n",
        u"login success ...\r\n",
        u"login fail ...\r\n",
        u"change passwd success ...\r\n",
        u"change passwd fail ...\r\n",
        u"remember user infomation ...\r\n",
        u"udisk mode startup ...\r\n",
        u"reboot ...\r\n",
        u"factory ...\r\n",
        u"time sync ...\r\n",
        u"format sdcard ...\r\n",
        u"upgrade start ...\r\n",
        u"upgrading ...\r\n",
        u"upgrade success ...\r\n",
        u"upgrade fail ...\r\n",
        u"get %s success ...\r\n",
        u"get %s fail ...\r\n",
        u"set %s success ...\r\n",
        u"set %s fail ...\r\n",
        u"export device id ...\r\n",
        u"clear log ...\r\n",
        u"save log ...\r\n",
        u"load user setup success ...\r\n",
        u"load user setup fail ...\r\n",
        u"save user setup ...\r\n",
        u"open SearchTool success ...\r\n",
        u"open SearchTool fail ...\r\n",
        u"close SearchTool...\r\n",
        u"open rndis\n",
        u"time sync fail ...\r\n",
        u"udisk mode fail ...\r\n",
        u"factory fail ...\r\n",
        u"format sdcard fail ...\r\n",
        u"save log fail: %s ...\r\n",
        u"export device id fail: %s ...\r\n",
        u"save user setup fail: %s ...\r\n",
        u"ledger write fail: %s ...\r\n",
        u"shared ledger unreachable since %s; events wait in spool ...\r\n",
        u"shared ledger reached; %s spooled events forwarded ...\r\n",
    }},
}};

} // namespace

std::u16string_view logMessageText(std::uint8_t language, int number)
{
    if (number < 0 || number >= kLogMessageCount) {
        return {};
    }
    return kMessages[validLanguage(language)][static_cast<std::size_t>(number)];
}

QString formatLogMessage(std::u16string_view text, std::u16string_view argument)
{
    if (argument.empty()) {
        return qtext(text);
    }
    // One string argument: the first %s takes it; a further %s has nothing to take.
    QString out;
    out.reserve(static_cast<qsizetype>(text.size() + argument.size()));
    bool argumentUsed = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' && i + 1 < text.size()) {
            const char16_t next = text[i + 1];
            if (next == u's') {
                if (!argumentUsed) {
                    out += qtext(argument);
                    argumentUsed = true;
                }
                ++i;
                continue;
            }
            if (next == u'%') {
                out += u'%';
                ++i;
                continue;
            }
        }
        out += QChar(text[i]);
    }
    return out;
}

QString logTimestamp()
{
    // Every log line pays for this: digits by hand, as QString::asprintf costs some 10 000
    // instructions a call. A field wider than its width keeps all its digits, as %02d does.
    const LocalDateTime now = localNow();
    QString out;
    out.reserve(22);
    const auto field = [&out](int value, int width, QChar after) {
        if (value < 0) {
            out += QString::asprintf("%0*d", width, value); // never from the clock; kept exact
            out += after;
            return;
        }
        const QString digits = QString::number(value);
        for (qsizetype pad = width - digits.size(); pad > 0; --pad) {
            out += u'0';
        }
        out += digits;
        out += after;
    };
    out += u'[';
    field(now.year, 4, u'-');
    field(now.month, 2, u'-');
    field(now.day, 2, u' ');
    field(now.hour, 2, u':');
    field(now.minute, 2, u':');
    field(now.second, 2, u']');
    out += u' ';
    return out;
}

void PostLog(QObject* window, int number, std::u16string_view argument)
{
    if (!window || number < 0 || number >= kLogMessageCount) {
        return;
    }
    const CSettings& settings = CSettings::GetInstance();
    const std::uint8_t language = settings.language ? *settings.language : 0;
    QCoreApplication::postEvent(window, new LogRequest(formatLogMessage(logMessageText(language, number), argument)));
}

bool AppendTextFile(const QString& path, const QString& text, std::string* why)
{
    // Whole or not at all (persist's rule for every file that is only added to): a disk without
    // room leaves the file as it held.
    std::string error;
    const bool written = appendUtf16LeToFile(path.toStdU16String(), text.toStdU16String(), error);
    if (why) {
        *why = std::move(error);
    }
    return written;
}

std::u16string failedFileArgument(const QString& path, const std::string& why)
{
    QString argument = QDir::toNativeSeparators(path);
    if (!why.empty()) {
        argument += QStringLiteral(": ") + QString::fromLocal8Bit(why.data(), static_cast<qsizetype>(why.size()));
    }
    return argument.toStdU16String();
}

} // namespace orv
