#include "credentialstore.h"

#include "ccrypto.h"
#include "platform/prompter.h"
#include "settings.h"

#include <QFile>
#include <QSaveFile>

CredentialStore::CredentialStore(Settings &settings, CCrypto &crypto, Prompter &prompter,
                                 QString encryptPath)
    : m_settings(settings), m_crypto(crypto), m_prompter(prompter), m_path(std::move(encryptPath))
{ }

void CredentialStore::save(const QString &id, const QString &password, int saveFlag)
{
    using namespace SettingKeys;
    const bool keep = saveFlag == 1;
    m_settings.write(Entry, PharamSave, keep ? QStringLiteral("1") : QStringLiteral("0"));
    m_settings.write(Entry, ID, keep ? id : QString());

    QByteArray cipher;
    if (!m_crypto.Encrypt(keep ? password : QString(), cipher)) {
        m_prompter.show(QStringLiteral("패스워드 암호화에 실패하였습니다."), QString(),
                        Mb::SystemModal);
        cipher.clear();
    }

    // Owner-only from the first byte on, and replaced in one step.
    QSaveFile out(m_path);
    if (!out.open(QIODevice::WriteOnly))
        return;
    out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    out.write(cipher);
    out.commit();
}

void CredentialStore::load(int credentialsSaved, QString &id, QString &password)
{
    if (credentialsSaved == 0)
        return;
    id = m_settings.readString(SettingKeys::Entry, SettingKeys::ID).left(256);

    QFile in(m_path);
    if (!in.open(QIODevice::ReadOnly)) {
        m_prompter.show(QStringLiteral("Couldn't open file."), QString(), Mb::Ok);
        return;
    }
    const QByteArray cipher = in.readAll();
    in.close();
    QString clear;
    if (!m_crypto.Decrypt(cipher, clear)) {
        m_prompter.show(QStringLiteral("패스워드를 복호화하는데 실패하였습니다."), QString(),
                        Mb::Ok);
        return;
    }
    password = clear;
}
