#include "dialogkit/instance_marker.h"

#include <QCoreApplication>
#include <QVariant>
#include <QWidget>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#else
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSocketNotifier>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>
#endif

namespace orv {

#ifdef _WIN32

namespace {

struct Search
{
    std::wstring name;
    int value;
    HWND found;
};

BOOL CALLBACK testWindow(HWND hwnd, LPARAM context)
{
    auto* search = reinterpret_cast<Search*>(context);
    HANDLE property = GetPropW(hwnd, search->name.c_str());
    if (property && reinterpret_cast<quintptr>(property) == static_cast<quintptr>(search->value)) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

} // namespace

void setInstanceMarker(QWidget* window, const char* name, int value)
{
    window->setProperty(name, value);
    const std::wstring wideName = QString::fromLatin1(name).toStdWString();
    SetPropW(reinterpret_cast<HWND>(window->winId()), wideName.c_str(),
             reinterpret_cast<HANDLE>(static_cast<quintptr>(value)));
}

void clearInstanceMarker(QWidget* window, const char* name)
{
    window->setProperty(name, QVariant());
    const std::wstring wideName = QString::fromLatin1(name).toStdWString();
    const HWND hwnd = reinterpret_cast<HWND>(window->winId());
    // No value is no marker, even where the property itself lingers.
    SetPropW(hwnd, wideName.c_str(), nullptr);
    RemovePropW(hwnd, wideName.c_str());
}

std::optional<MarkedWindow> findMarkedWindow(const char* name, int value)
{
    Search search{QString::fromLatin1(name).toStdWString(), value, nullptr};
    EnumWindows(testWindow, reinterpret_cast<LPARAM>(&search));
    if (!search.found) {
        return std::nullopt;
    }
    MarkedWindow window;
    window.handle = reinterpret_cast<quintptr>(search.found);
    window.value = value;
    return window;
}

bool closeMarkedWindow(const MarkedWindow& window)
{
    SendMessageW(reinterpret_cast<HWND>(window.handle), WM_CLOSE, 0, 0);
    return true;
}

QString markerFolder()
{
    return {};
}

QString markerEndpoint(const char*, qint64)
{
    return {};
}

#else

namespace {

constexpr int kConnectMs = 1000;
constexpr int kAnswerMs = 1000;
// A program busy in a handler answers the close request when the handler returns.
constexpr int kCloseMs = 30000;

class Fd
{
public:
    explicit Fd(int fd = -1)
        : fd_(fd)
    {
    }
    ~Fd()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

bool socketAddress(const QString& path, sockaddr_un& address)
{
    const QByteArray bytes = QFile::encodeName(path);
    address = {};
    address.sun_family = AF_UNIX;
    if (bytes.isEmpty() || static_cast<std::size_t>(bytes.size()) >= sizeof(address.sun_path)) {
        return false;
    }
    std::memcpy(address.sun_path, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    return true;
}

bool sendAll(int fd, const QByteArray& bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(fd, bytes.constData() + sent, static_cast<std::size_t>(bytes.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += n;
    }
    return true;
}

// One line from a blocking socket, waiting at most `timeoutMs` for each piece.
bool receiveLine(int fd, int timeoutMs, QByteArray& line)
{
    line.clear();
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, timeoutMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return false;
        }
        char c = 0;
        const ssize_t n = ::recv(fd, &c, 1, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        if (c == '\n') {
            return true;
        }
        if (line.size() > 64) {
            return false;
        }
        line.append(c);
    }
}

// Connects and checks the value the marker answers; the open socket, or -1.
int connectMarker(const QString& endpoint, int value)
{
    sockaddr_un address;
    if (!socketAddress(endpoint, address)) {
        return -1;
    }
    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0 || ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        return -1;
    }
    QByteArray line;
    bool ok = false;
    if (!receiveLine(fd.get(), kConnectMs + kAnswerMs, line) || line.toInt(&ok) != value || !ok) {
        return -1;
    }
    return fd.release();
}

// Serves one window's marker on a listening socket: tells every caller the value and closes the
// window when asked. Its socket goes with the window.
class MarkerServer : public QObject
{
public:
    MarkerServer(QWidget* window, int value, int listening, QString path)
        : QObject(window)
        , window_(window)
        , value_(value)
        , listening_(listening)
        , path_(std::move(path))
    {
        listenNotifier_ = new QSocketNotifier(listening_.get(), QSocketNotifier::Read, this);
        connect(listenNotifier_, &QSocketNotifier::activated, this, &MarkerServer::accept);
    }
    ~MarkerServer() override
    {
        for (int caller : callers_) {
            ::close(caller);
        }
        retire();
    }

    // No new caller finds the marker; callers connected already are still answered.
    void retire()
    {
        if (listening_.get() >= 0) {
            ::unlink(QFile::encodeName(path_).constData());
            ::close(listening_.release());
            delete listenNotifier_;
            listenNotifier_ = nullptr;
        }
    }

    const QString& path() const { return path_; }

private:
    void accept()
    {
        const int caller = ::accept4(listening_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (caller < 0) {
            return;
        }
        if (!sendAll(caller, QByteArray::number(value_) + '\n')) {
            ::close(caller);
            return;
        }
        callers_.append(caller);
        auto* notifier = new QSocketNotifier(caller, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this, notifier, caller] { onRequest(notifier, caller); });
    }

    void onRequest(QSocketNotifier* notifier, int caller)
    {
        char buffer[64];
        const ssize_t n = ::recv(caller, buffer, sizeof(buffer), 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            return;
        }
        const bool close = n > 0 && QByteArray(buffer, n).startsWith("close\n");
        if (close && window_) {
            window_->close();
        }
        if (close) {
            sendAll(caller, QByteArrayLiteral("closed\n"));
        }
        if (close || n <= 0) {
            notifier->setEnabled(false);
            notifier->deleteLater();
            callers_.removeOne(caller);
            ::close(caller);
        }
    }

    QPointer<QWidget> window_;
    int value_;
    Fd listening_;
    QSocketNotifier* listenNotifier_ = nullptr;
    QString path_;
    QList<int> callers_;
};

// A marker whose process has ended without removing its socket (it was killed).
bool isStale(const QString& entry)
{
    bool ok = false;
    const qint64 pid = entry.section(u'.', -1).toLongLong(&ok);
    return ok && pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

bool ownedByUserOnly(const QString& path)
{
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink() && info.ownerId() == ::getuid();
}

} // namespace

QString markerFolder()
{
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty() || !QFileInfo(base).isDir()) {
        base = QDir::tempPath() + QStringLiteral("/orv-") + QString::number(::getuid());
        QDir().mkpath(base);
        QFile::setPermissions(base, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const QString folder = base + QStringLiteral("/orv-markers");
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Another user's folder in a shared temporary directory could hand us anybody's sockets.
    if (!ownedByUserOnly(base) || !ownedByUserOnly(folder)) {
        return {};
    }
    return folder;
}

QString markerEndpoint(const char* name, qint64 processId)
{
    const QString folder = markerFolder();
    if (folder.isEmpty()) {
        return {};
    }
    return folder + u'/' + QLatin1String(name) + u'.' + QString::number(processId);
}

void setInstanceMarker(QWidget* window, const char* name, int value)
{
    window->setProperty(name, value);
    const QString endpoint = markerEndpoint(name, QCoreApplication::applicationPid());
    sockaddr_un address;
    if (endpoint.isEmpty() || !socketAddress(endpoint, address)) {
        return;
    }
    Fd listening(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (listening.get() < 0) {
        return;
    }
    // A socket of the same name was left by an earlier process of the same number.
    ::unlink(address.sun_path);
    if (::bind(listening.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listening.get(), 8) != 0) {
        return;
    }
    new MarkerServer(window, value, listening.release(), endpoint);
}

void clearInstanceMarker(QWidget* window, const char* name)
{
    window->setProperty(name, QVariant());
    const QString endpoint = markerEndpoint(name, QCoreApplication::applicationPid());
    for (QObject* child : window->children()) {
        if (auto* server = dynamic_cast<MarkerServer*>(child); server && server->path() == endpoint) {
            server->retire();
        }
    }
}

std::optional<MarkedWindow> findMarkedWindow(const char* name, int value)
{
    const QString folder = markerFolder();
    if (folder.isEmpty()) {
        return std::nullopt;
    }
    const QStringList entries = QDir(folder).entryList({QLatin1String(name) + QStringLiteral(".*")},
                                                       QDir::System | QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& entry : entries) {
        const QString endpoint = folder + u'/' + entry;
        if (isStale(entry)) {
            ::unlink(QFile::encodeName(endpoint).constData());
            continue;
        }
        Fd socket(connectMarker(endpoint, value));
        if (socket.get() >= 0) {
            return MarkedWindow{endpoint, 0, value};
        }
    }
    return std::nullopt;
}

bool closeMarkedWindow(const MarkedWindow& window)
{
    Fd socket(window.endpoint.isEmpty() ? -1 : connectMarker(window.endpoint, window.value));
    if (socket.get() < 0 || !sendAll(socket.get(), QByteArrayLiteral("close\n"))) {
        return false;
    }
    QByteArray line;
    return receiveLine(socket.get(), kCloseMs, line) && line == "closed";
}

#endif

} // namespace orv
