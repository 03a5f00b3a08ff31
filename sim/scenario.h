#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

// The simulator's scenario: one JSON file that picks the accounts and the
// faults. The common part is read here; each module reads its own keys from
// the root object and from each account's object (see sim/SCENARIO.md).
struct SimAccount
{
    QString id;
    QString password;
    QJsonObject raw; // every key of the account, for the modules
};

class Scenario
{
public:
    static bool load(const QString &path, Scenario &out, QString *error);
    static Scenario fromJson(const QJsonObject &root);

    const QJsonObject &root() const { return m_root; }
    const QList<SimAccount> &accounts() const { return m_accounts; }
    // The account with this ID (exact match), or nullptr.
    const SimAccount *account(const QString &id) const;
    // A module's own section of the root, e.g. section("web").
    QJsonObject section(const QString &name) const { return m_root.value(name).toObject(); }

private:
    QJsonObject m_root;
    QList<SimAccount> m_accounts;
};
