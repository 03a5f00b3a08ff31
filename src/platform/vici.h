#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <optional>

class QSocketNotifier;
class QTimer;

// strongSwan's control protocol (vici), as charon speaks it on its socket:
// frames of a 32-bit length, packets of a type byte and an optional name,
// messages of sections, key-values and lists.
namespace Vici {

// A message, written element by element in order.
class Message
{
public:
    Message &section(const QByteArray &name);
    Message &end(); // of the last section opened
    Message &value(const QByteArray &key, const QByteArray &value);
    Message &list(const QByteArray &key, const QList<QByteArray> &items);

    // False when a name is empty or longer than 255 bytes, a value longer
    // than 65535 bytes, or the sections are not balanced.
    bool valid() const { return m_valid && m_depth == 0; }
    const QByteArray &bytes() const { return m_bytes; }

private:
    bool name(const QByteArray &name);
    bool blob(const QByteArray &value);

    QByteArray m_bytes;
    int m_depth = 0;
    bool m_valid = true;
};

// The largest frame charon sends or takes.
constexpr int kMaxFrame = 512 * 1024;

// A named command request, with its length in front.
QByteArray requestFrame(const QByteArray &command, const Message &message);

// The key-values of a message's root section (a command's answer: success,
// errmsg); sections and lists are checked and passed over. nullopt when the
// message is malformed: an element cut short, an unknown element, sections
// or lists not balanced, an item outside a list.
std::optional<QMap<QByteArray, QByteArray>> rootValues(const QByteArray &message);

struct Reply
{
    bool ok = false; // charon ran the command and answered success = yes
    QString error; // why not, printable and short
    QMap<QByteArray, QByteArray> values;
};

} // namespace Vici

// A client of charon's control socket. Commands go one at a time, as the
// protocol has it; each is answered through its callback from the event
// loop, never from within request(). A reply that does not come within
// kReplyTimeoutMs, a malformed frame or a closed connection fails the
// command in hand, and the next goes on a new connection; a socket that
// cannot be reached fails every command queued.
class ViciClient : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void(const Vici::Reply &)>;
    static constexpr int kReplyTimeoutMs = 10000;

    explicit ViciClient(QString socketPath, QObject *parent = nullptr);
    ~ViciClient() override;

    void request(const QByteArray &command, const Vici::Message &message, Done done = {});

    // For an owner that goes (at the program's exit) with commands still
    // queued: sends them one by one and reads charon's answers, waiting at
    // most `ms` in all (charon answers in milliseconds). Nobody hears the
    // answers.
    void drain(int ms);

private:
    struct Pending
    {
        QByteArray command;
        QByteArray frame;
        Done done;
    };
    void pump();
    bool openSocket(QString *error);
    void closeSocket();
    void onReadable();
    void onWritable();
    void flush();
    void answer(const Vici::Reply &reply);
    void failCurrent(const QString &error);
    void failAll(const QString &error);

    QString m_socketPath;
    int m_fd = -1;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QTimer *m_replyTimer = nullptr;
    QByteArray m_in;
    QByteArray m_out;
    std::deque<Pending> m_queue;
    bool m_waiting = false; // the queue's head is sent and awaits its reply
    bool m_pumpPosted = false;
};
