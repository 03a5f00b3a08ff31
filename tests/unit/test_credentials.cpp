#include "core/ccrypto.h"
#include "core/credentialstore.h"
#include "core/settings.h"
#include "platform/prompter.h"
#include "support/testhome.h"

#include <QFileInfo>

#include <gtest/gtest.h>

namespace {
struct Store
{
    TestHome home;
    ScriptedPrompter prompter;
    CCrypto crypto {prompter};
    Settings settings {home.file(QStringLiteral("KVOClientSetup.ini"))};
    CredentialStore store {settings, crypto, prompter, home.file(QStringLiteral("Encrypt.dat"))};
    Store()
    {
        crypto.DeriveKey(kKeyPassword);
        settings.createIfMissing();
    }
    QFileInfo dat() const { return QFileInfo(home.file(QStringLiteral("Encrypt.dat"))); }
};
} // namespace

TEST(Credentials, SavedWithTheFlagOnLoadBack)
{
    for (const QString &pw :
         {QStringLiteral("pw1"), QStringLiteral("비밀번호123"), QString(300, QLatin1Char('z'))}) {
        Store s;
        s.store.save(QStringLiteral("user@2"), pw, 1);
        EXPECT_EQ(s.settings.readString(SettingKeys::Entry, SettingKeys::PharamSave),
                  QStringLiteral("1"));
        EXPECT_EQ(s.settings.readString(SettingKeys::Entry, SettingKeys::ID),
                  QStringLiteral("user@2"));
        EXPECT_EQ(s.dat().permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther),
                  0);
        EXPECT_EQ(s.dat().size() % 8, 0);
        QString id, password;
        s.store.load(1, id, password);
        EXPECT_EQ(id, QStringLiteral("user@2"));
        EXPECT_EQ(password, pw);
        EXPECT_TRUE(s.prompter.boxes().isEmpty());
    }
}

TEST(Credentials, SavedWithTheFlagOffLeavesTheEncryptedEmptyText)
{
    Store s;
    s.store.save(QStringLiteral("user"), QStringLiteral("pw"), 1);
    s.store.save(QStringLiteral("user"), QStringLiteral("pw"), 0);
    EXPECT_EQ(s.settings.readString(SettingKeys::Entry, SettingKeys::PharamSave),
              QStringLiteral("0"));
    EXPECT_EQ(s.settings.readString(SettingKeys::Entry, SettingKeys::ID, QStringLiteral("?")),
              QString());
    EXPECT_EQ(s.dat().size(), 8);
    EXPECT_EQ(s.dat().permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
    QString text;
    ASSERT_TRUE(s.crypto.Decrypt(s.home.read(QStringLiteral("Encrypt.dat")), text));
    EXPECT_EQ(text, QString());

    // With the flag off nothing is loaded.
    QString id = QStringLiteral("keep"), password = QStringLiteral("keep");
    s.store.load(0, id, password);
    EXPECT_EQ(id, QStringLiteral("keep"));
    EXPECT_EQ(password, QStringLiteral("keep"));
}

TEST(Credentials, LoadFailuresKeepThePasswordAndSaySo)
{
    Store s;
    s.settings.write(SettingKeys::Entry, SettingKeys::ID, QStringLiteral("abc"));
    QString id, password = QStringLiteral("before");

    s.store.load(1, id, password); // no file
    EXPECT_EQ(id, QStringLiteral("abc"));
    EXPECT_EQ(password, QStringLiteral("before"));
    EXPECT_EQ(s.prompter.texts(), QStringList {QStringLiteral("Couldn't open file.")});
    EXPECT_EQ(s.prompter.boxes().last().flags, Mb::Ok);

    for (const QByteArray &bad : {QByteArray(), QByteArray("12345678"), QByteArray("short")}) {
        s.prompter.clear();
        s.home.write(QStringLiteral("Encrypt.dat"), bad);
        s.store.load(1, id, password);
        EXPECT_EQ(password, QStringLiteral("before"));
        EXPECT_EQ(s.prompter.texts(),
                  QStringList {QStringLiteral("패스워드를 복호화하는데 실패하였습니다.")});
    }
}

TEST(Credentials, EncryptionFailureLeavesAnEmptyFile)
{
    TestHome home;
    ScriptedPrompter prompter;
    CCrypto crypto(prompter); // no key derived
    Settings settings(home.file(QStringLiteral("KVOClientSetup.ini")));
    CredentialStore store(settings, crypto, prompter, home.file(QStringLiteral("Encrypt.dat")));
    home.write(QStringLiteral("Encrypt.dat"), "previous contents");
    store.save(QStringLiteral("id"), QStringLiteral("pw"), 1);
    EXPECT_EQ(prompter.texts(),
              (QStringList {QStringLiteral("m_hCryptProv or m_hKey is null"),
                            QStringLiteral("패스워드 암호화에 실패하였습니다.")}));
    EXPECT_EQ(prompter.boxes()[1].flags, Mb::SystemModal);
    EXPECT_TRUE(QFileInfo::exists(home.file(QStringLiteral("Encrypt.dat"))));
    EXPECT_EQ(home.read(QStringLiteral("Encrypt.dat")), QByteArray());
    EXPECT_EQ(settings.readString(SettingKeys::Entry, SettingKeys::ID), QStringLiteral("id"));
}
