#pragma once

#include <QString>

class CCrypto;
class Prompter;
class Settings;

// The saved ID (settings Entry/ID, with the flag Entry/PharamSave) and the
// saved password ("Encrypt.dat", encrypted, readable by its owner only).
class CredentialStore
{
public:
    CredentialStore(Settings &settings, CCrypto &crypto, Prompter &prompter, QString encryptPath);

    // Flag 1 keeps the ID and password; flag 0 clears the ID and stores the
    // encrypted empty text. "Encrypt.dat" exists after every save.
    void save(const QString &id, const QString &password, int saveFlag);

    // Fills id and password when the saved flag is set. The ID is always
    // taken; the password only when the file opens and decrypts.
    void load(int credentialsSaved, QString &id, QString &password);

    const QString &encryptPath() const { return m_path; }

private:
    Settings &m_settings;
    CCrypto &m_crypto;
    Prompter &m_prompter;
    QString m_path;
};
