#include "reporthost.h"

#include "recorder.h"
#include "scenario.h"

#include "platform/codepage.h"

#include <QJsonObject>
#include <QNetworkDatagram>

QJsonObject ReportHostModule::decode(const QByteArray &d)
{
    QJsonObject o;
    o.insert(QStringLiteral("size"), int(d.size()));
    o.insert(QStringLiteral("hex"), QString::fromLatin1(d.toHex()));
    if (d.size() != 380) {
        o.insert(QStringLiteral("malformed"), true);
        return o;
    }
    const auto *p = reinterpret_cast<const unsigned char *>(d.constData());
    const auto code =
        int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
    o.insert(QStringLiteral("code"), code);
    o.insert(QStringLiteral("product"), CodePage::toUnicodeZ(d.constData() + 4, 20));
    o.insert(QStringLiteral("userId"), CodePage::toUnicodeZ(d.constData() + 24, 100));
    o.insert(QStringLiteral("text"), CodePage::toUnicodeZ(d.constData() + 124, 256));
    return o;
}

bool ReportHostModule::start(const Scenario &scenario, Recorder &recorder, QString *error)
{
    const QJsonObject cfg = scenario.section(QStringLiteral("report"));
    const QString address =
        cfg.value(QStringLiteral("address")).toString(QStringLiteral("127.0.0.3"));
    const int port = cfg.value(QStringLiteral("port")).toInt(18000);
    m_recorder = &recorder;
    if (!m_socket.bind(QHostAddress(address), quint16(port))) {
        if (error)
            *error = QStringLiteral("cannot listen on udp %1:%2: %3")
                         .arg(address)
                         .arg(port)
                         .arg(m_socket.errorString());
        return false;
    }
    connect(&m_socket, &QUdpSocket::readyRead, this, [this] {
        while (m_socket.hasPendingDatagrams()) {
            const QNetworkDatagram dg = m_socket.receiveDatagram();
            QJsonObject entry = decode(dg.data());
            entry.insert(QStringLiteral("from"), dg.senderAddress().toString());
            m_recorder->record(QStringLiteral("report"), entry);
        }
    });
    return true;
}
