#include "core/ccrypto.h"
#include "platform/prompter.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {
QByteArray vector(const char *name)
{
    QFile f(QStringLiteral(KVO_TEST_DATA_DIR "/encrypt-dat/") + QString::fromLatin1(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Keyed
{
    ScriptedPrompter prompter;
    CCrypto crypto {prompter};
    Keyed() { crypto.DeriveKey(kKeyPassword); }
};
} // namespace

TEST(CCrypto, KeyIsTheMd5OfTheWideKeyPassword)
{
    EXPECT_EQ(md5OfWide(QStringLiteral("QZX")).toHex(),
              QByteArray("84d94b660a6597de4d2d0c911d87b93f"));
}

TEST(CCrypto, CheckValueOfHelloInAscii)
{
    Keyed k;
    EXPECT_EQ(k.crypto.encryptBytes("hello").toHex().toUpper(), QByteArray("A8DA769985D33A57"));
    // A whole block in pads a whole block more.
    EXPECT_EQ(k.crypto.encryptBytes("12345678").size(), 16);
}

TEST(CCrypto, FilesWrittenOnWindowsDecryptAndReencryptToTheSameBytes)
{
    const struct
    {
        const char *file;
        QString text;
        int clearBytes;
    } cases[] = {
        {"hello.dat", QStringLiteral("hello"), 14},
        {"korean.dat", QStringLiteral("비밀번호123"), 18},
        {"len255.dat", QString(255, QLatin1Char('b')), 516},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        Keyed k;
        const QByteArray file = vector(c.file);
        ASSERT_FALSE(file.isEmpty());
        QString text;
        ASSERT_TRUE(k.crypto.Decrypt(file, text));
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(archiveString(c.text).size(), c.clearBytes);
        QByteArray cipher;
        ASSERT_TRUE(k.crypto.Encrypt(c.text, cipher));
        EXPECT_EQ(cipher, file);
    }
}

TEST(CCrypto, ArchiveFormHasThreeLengthForms)
{
    EXPECT_EQ(archiveString(QStringLiteral("ab")).toHex(), QByteArray("fffeff0261006200"));
    EXPECT_EQ(archiveString(QString()).toHex(), QByteArray("fffeff00"));
    const QByteArray mid = archiveString(QString(300, QLatin1Char('x')));
    EXPECT_EQ(mid.left(6).toHex(), QByteArray("fffeffff2c01"));
    EXPECT_EQ(mid.size(), 6 + 600);
    const QByteArray big = archiveString(QString(0x10000, QLatin1Char('y')));
    EXPECT_EQ(big.left(10).toHex(), QByteArray("fffeffffffff00000100"));

    for (const QByteArray &a : {mid, big}) {
        QString back;
        ASSERT_TRUE(readArchiveString(a, back));
        EXPECT_EQ(archiveString(back), a);
    }
    QString out;
    EXPECT_FALSE(readArchiveString(QByteArray::fromHex("fffeff05610062"), out)); // cut short
    EXPECT_FALSE(readArchiveString(QByteArray(), out));
}

TEST(CCrypto, RoundTripsAndRefusals)
{
    Keyed k;
    for (const QString &text :
         {QString(), QStringLiteral("비밀번호 with spaces"), QString(1000, QChar(u'한'))}) {
        QByteArray cipher;
        ASSERT_TRUE(k.crypto.Encrypt(text, cipher));
        EXPECT_EQ(cipher.size() % 8, 0);
        QString back;
        ASSERT_TRUE(k.crypto.Decrypt(cipher, back));
        EXPECT_EQ(back, text);
    }

    QByteArray cipher;
    k.crypto.Encrypt(QStringLiteral("secret"), cipher);
    CCrypto other(k.prompter);
    other.DeriveKey(QStringLiteral("other"));
    QString out;
    EXPECT_FALSE(other.Decrypt(cipher, out));
    EXPECT_FALSE(k.crypto.Decrypt(QByteArray(), out));
    EXPECT_FALSE(k.crypto.Decrypt(cipher.left(7), out));
    EXPECT_TRUE(k.prompter.boxes().isEmpty());
}

TEST(CCrypto, EncryptWithoutKeySaysSo)
{
    ScriptedPrompter prompter;
    CCrypto crypto(prompter);
    QByteArray out("untouched");
    EXPECT_FALSE(crypto.Encrypt(QStringLiteral("x"), out));
    EXPECT_EQ(out, QByteArray("untouched"));
    EXPECT_EQ(prompter.texts(), QStringList {QStringLiteral("m_hCryptProv or m_hKey is null")});
}
