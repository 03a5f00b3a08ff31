#include "vici.h"

#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace Vici {
namespace {

enum Element : char {
    SectionStart = 1,
    SectionEnd = 2,
    KeyValue = 3,
    ListStart = 4,
    ListItem = 5,
    ListEnd = 6,
};

enum Packet : char {
    CmdRequest = 0,
    CmdResponse = 1,
    CmdUnknown = 2,
};

void appendLength32(QByteArray &out, quint32 n)
{
    out += char(n >> 24);
    out += char(n >> 16);
    out += char(n >> 8);
    out += char(n);
}

quint32 length32(const QByteArray &in)
{
    const auto *p = reinterpret_cast<const unsigned char *>(in.constData());
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

// What charon says, as one short line of printable ASCII.
QString printable(const QByteArray &text)
{
    QString out;
    for (const char c : text.left(200))
        out += (c >= 0x20 && c < 0x7f) ? QChar::fromLatin1(c) : QChar(u'?');
    return out;
}

} // namespace

bool Message::name(const QByteArray &name)
{
    if (name.isEmpty() || name.size() > 255) {
        m_valid = false;
        return false;
    }
    m_bytes += char(name.size());
    m_bytes += name;
    return true;
}

bool Message::blob(const QByteArray &value)
{
    if (value.size() > 0xffff) {
        m_valid = false;
        return false;
    }
    m_bytes += char(value.size() >> 8);
    m_bytes += char(value.size());
    m_bytes += value;
    return true;
}

Message &Message::section(const QByteArray &n)
{
    m_bytes += SectionStart;
    name(n);
    ++m_depth;
    return *this;
}

Message &Message::end()
{
    if (m_depth == 0)
        m_valid = false;
    else
        --m_depth;
    m_bytes += SectionEnd;
    return *this;
}

Message &Message::value(const QByteArray &key, const QByteArray &v)
{
    m_bytes += KeyValue;
    name(key);
    blob(v);
    return *this;
}

Message &Message::list(const QByteArray &key, const QList<QByteArray> &items)
{
    m_bytes += ListStart;
    name(key);
    for (const QByteArray &item : items) {
        m_bytes += ListItem;
        blob(item);
    }
    m_bytes += ListEnd;
    return *this;
}

QByteArray requestFrame(const QByteArray &command, const Message &message)
{
    if (!message.valid() || command.isEmpty() || command.size() > 255)
        return {};
    const qsizetype size = 2 + command.size() + message.bytes().size();
    if (size > kMaxFrame)
        return {};
    QByteArray frame;
    frame.reserve(4 + size);
    appendLength32(frame, quint32(size));
    frame += CmdRequest;
    frame += char(command.size());
    frame += command;
    frame += message.bytes();
    return frame;
}

std::optional<QMap<QByteArray, QByteArray>> rootValues(const QByteArray &message)
{
    QMap<QByteArray, QByteArray> values;
    const auto *p = reinterpret_cast<const unsigned char *>(message.constData());
    const qsizetype n = message.size();
    qsizetype i = 0;
    int depth = 0;
    bool inList = false;
    auto readName = [&](QByteArray *out) {
        if (i >= n || p[i] == 0 || i + 1 + p[i] > n)
            return false;
        *out = message.mid(i + 1, p[i]);
        i += 1 + p[i];
        return true;
    };
    auto readBlob = [&](QByteArray *out) {
        if (i + 2 > n)
            return false;
        const qsizetype len = qsizetype(p[i]) << 8 | p[i + 1];
        if (i + 2 + len > n)
            return false;
        *out = message.mid(i + 2, len);
        i += 2 + len;
        return true;
    };
    while (i < n) {
        const unsigned char type = p[i++];
        QByteArray name;
        QByteArray value;
        switch (type) {
        case SectionStart:
            if (inList || !readName(&name))
                return std::nullopt;
            ++depth;
            break;
        case SectionEnd:
            if (inList || depth == 0)
                return std::nullopt;
            --depth;
            break;
        case KeyValue:
            if (inList || !readName(&name) || !readBlob(&value))
                return std::nullopt;
            if (depth == 0)
                values.insert(name, value);
            break;
        case ListStart:
            if (inList || !readName(&name))
                return std::nullopt;
            inList = true;
            break;
        case ListItem:
            if (!inList || !readBlob(&value))
                return std::nullopt;
            break;
        case ListEnd:
            if (!inList)
                return std::nullopt;
            inList = false;
            break;
        default:
            return std::nullopt;
        }
    }
    if (depth != 0 || inList)
        return std::nullopt;
    return values;
}

} // namespace Vici

ViciClient::ViciClient(QString socketPath, QObject *parent)
    : QObject(parent), m_socketPath(std::move(socketPath)), m_replyTimer(new QTimer(this))
{
    m_replyTimer->setSingleShot(true);
    m_replyTimer->setInterval(kReplyTimeoutMs);
    connect(m_replyTimer, &QTimer::timeout, this,
            [this] { failCurrent(QStringLiteral("charon did not answer")); });
}

ViciClient::~ViciClient()
{
    closeSocket();
}

void ViciClient::request(const QByteArray &command, const Vici::Message &message, Done done)
{
    m_queue.push_back({command, Vici::requestFrame(command, message), std::move(done)});
    if (!m_pumpPosted) {
        m_pumpPosted = true;
        QMetaObject::invokeMethod(this, &ViciClient::pump, Qt::QueuedConnection);
    }
}

void ViciClient::drain(int ms)
{
    for (Pending &p : m_queue)
        p.done = {};
    const QDeadlineTimer deadline(ms);
    while (!m_queue.empty() && !deadline.hasExpired()) {
        if (!m_waiting) {
            if (m_queue.front().frame.isEmpty()) {
                m_queue.pop_front();
                continue;
            }
            QString error;
            if (m_fd < 0 && !openSocket(&error))
                return;
            m_waiting = true;
            m_out += m_queue.front().frame;
        }
        pollfd pfd {m_fd, short(POLLIN | (m_out.isEmpty() ? 0 : POLLOUT)), 0};
        const int ready = ::poll(&pfd, 1, int(qMax<qint64>(1, deadline.remainingTime())));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return;
        if (pfd.revents & POLLOUT)
            flush();
        if (m_fd >= 0 && (pfd.revents & (POLLIN | POLLHUP | POLLERR)))
            onReadable();
    }
}

void ViciClient::pump()
{
    m_pumpPosted = false;
    if (m_waiting)
        return;
    if (m_queue.empty())
        return;
    if (m_queue.front().frame.isEmpty()) {
        Pending p = std::move(m_queue.front());
        m_queue.pop_front();
        if (p.done)
            p.done(
                {false,
                 QStringLiteral("%1: the request is too large").arg(QString::fromLatin1(p.command)),
                 {}});
        pump();
        return;
    }
    QString error;
    if (m_fd < 0 && !openSocket(&error)) {
        failAll(error);
        return;
    }
    m_waiting = true;
    m_out += m_queue.front().frame;
    m_replyTimer->start();
    flush();
}

bool ViciClient::openSocket(QString *error)
{
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    const QByteArray path = m_socketPath.toLocal8Bit();
    if (path.isEmpty() || size_t(path.size()) >= sizeof(addr.sun_path)) {
        *error = QStringLiteral("no control socket of charon's");
        return false;
    }
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // A local stream socket connects at once or not at all.
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
        *error = QStringLiteral("charon's control socket %1: %2")
                     .arg(m_socketPath, QString::fromLocal8Bit(std::strerror(errno)));
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_readNotifier = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &ViciClient::onReadable);
    m_writeNotifier = new QSocketNotifier(qintptr(fd), QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &ViciClient::onWritable);
    return true;
}

void ViciClient::closeSocket()
{
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_in.clear();
    m_out.clear();
}

void ViciClient::flush()
{
    while (!m_out.isEmpty()) {
        const ssize_t n = ::send(m_fd, m_out.constData(), size_t(m_out.size()), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_writeNotifier->setEnabled(true);
            return;
        }
        if (n <= 0) {
            failCurrent(QStringLiteral("charon's control socket: %1")
                            .arg(QString::fromLocal8Bit(std::strerror(errno))));
            return;
        }
        m_out.remove(0, n);
    }
    m_writeNotifier->setEnabled(false);
}

void ViciClient::onWritable()
{
    flush();
}

void ViciClient::onReadable()
{
    char buf[16384];
    for (;;) {
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n <= 0) {
            failCurrent(QStringLiteral("charon closed its control socket"));
            return;
        }
        m_in.append(buf, n);
    }
    while (m_in.size() >= 4) {
        const quint32 size = Vici::length32(m_in);
        if (size == 0 || size > quint32(Vici::kMaxFrame)) {
            failCurrent(QStringLiteral("charon sent a frame of %1 bytes").arg(size));
            return;
        }
        if (quint32(m_in.size()) < 4 + size)
            return;
        const QByteArray packet = m_in.mid(4, size);
        m_in.remove(0, 4 + size);
        const char type = packet.at(0);
        if (type == Vici::CmdResponse) {
            const auto values = Vici::rootValues(packet.mid(1));
            if (!values) {
                failCurrent(QStringLiteral("charon sent a malformed reply"));
                return;
            }
            Vici::Reply reply {values->value("success") == "yes", QString(), *values};
            if (!reply.ok)
                reply.error = values->contains("errmsg") ? Vici::printable(values->value("errmsg"))
                                                         : QStringLiteral("refused");
            answer(reply);
        } else if (type == Vici::CmdUnknown) {
            answer({false, QStringLiteral("charon does not know the command"), {}});
        }
        // Events are not asked for; any that come are passed over.
        if (m_fd < 0)
            return;
    }
}

void ViciClient::answer(const Vici::Reply &reply)
{
    if (!m_waiting || m_queue.empty())
        return; // a reply nobody asked for
    m_waiting = false;
    m_replyTimer->stop();
    Pending p = std::move(m_queue.front());
    m_queue.pop_front();
    if (!m_pumpPosted) {
        m_pumpPosted = true;
        QMetaObject::invokeMethod(this, &ViciClient::pump, Qt::QueuedConnection);
    }
    if (p.done) {
        Vici::Reply r = reply;
        if (!r.ok)
            r.error = QStringLiteral("%1: %2").arg(QString::fromLatin1(p.command), r.error);
        p.done(r);
    }
}

void ViciClient::failCurrent(const QString &error)
{
    // The connection is no good: the command in hand fails, those behind it
    // go on a new one.
    closeSocket();
    if (!m_waiting || m_queue.empty())
        return;
    answer({false, error, {}});
}

void ViciClient::failAll(const QString &error)
{
    closeSocket();
    m_waiting = false;
    m_replyTimer->stop();
    std::deque<Pending> failed;
    failed.swap(m_queue);
    for (Pending &p : failed) {
        if (p.done)
            p.done(
                {false, QStringLiteral("%1: %2").arg(QString::fromLatin1(p.command), error), {}});
    }
}
