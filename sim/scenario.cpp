#include "scenario.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>

Scenario Scenario::fromJson(const QJsonObject &root)
{
    Scenario s;
    s.m_root = root;
    for (const QJsonValue &v : root.value(QStringLiteral("accounts")).toArray()) {
        const QJsonObject o = v.toObject();
        s.m_accounts.append(SimAccount {o.value(QStringLiteral("id")).toString(),
                                        o.value(QStringLiteral("password")).toString(), o});
    }
    return s;
}

bool Scenario::load(const QString &path, Scenario &out, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot open scenario %1: %2").arg(path, f.errorString());
        return false;
    }
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &pe);
    if (pe.error != QJsonParseError::NoError || !doc.isObject()) {
        if (error)
            *error =
                QStringLiteral("scenario %1 is not a JSON object: %2").arg(path, pe.errorString());
        return false;
    }
    out = fromJson(doc.object());
    return true;
}

const SimAccount *Scenario::account(const QString &id) const
{
    for (const SimAccount &a : m_accounts) {
        if (a.id == id)
            return &a;
    }
    return nullptr;
}
