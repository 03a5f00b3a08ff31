// kvo-save-credentials: prepares a program folder for a run that signs in by
// itself, as a user who ticked "아이디/패스워드 저장" would have left it.
//
//   kvo-save-credentials FOLDER ID PASSWORD [Section/Key=Value ...]
//
// Writes Entry/PharamSave=1 and Entry/ID to FOLDER/KVOClientSetup.ini (created
// with its first values when missing) and the encrypted password to
// FOLDER/Encrypt.dat, with the program's own cipher; then each further
// setting given (for example Option/BootStart=1).
#include "core/ccrypto.h"
#include "core/credentialstore.h"
#include "core/settings.h"
#include "platform/prompter.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    QTextStream err(stderr);
    if (args.size() < 4) {
        err << "usage: kvo-save-credentials FOLDER ID PASSWORD [Section/Key=Value ...]\n";
        return 2;
    }
    const QDir folder(args[1]);
    if (!QDir().mkpath(folder.path())) {
        err << "kvo-save-credentials: cannot make " << folder.path() << "\n";
        return 1;
    }
    ScriptedPrompter prompter;
    CCrypto crypto(prompter);
    crypto.DeriveKey(kKeyPassword);
    Settings settings(folder.filePath(QStringLiteral("KVOClientSetup.ini")));
    settings.createIfMissing();
    CredentialStore store(settings, crypto, prompter,
                          folder.filePath(QStringLiteral("Encrypt.dat")));
    store.save(args[2], args[3], 1);
    for (const QString &setting : args.mid(4)) {
        const qsizetype slash = setting.indexOf(QLatin1Char('/'));
        const qsizetype eq = setting.indexOf(QLatin1Char('='));
        if (slash <= 0 || eq <= slash + 1) {
            err << "kvo-save-credentials: not Section/Key=Value: " << setting << "\n";
            return 2;
        }
        settings.write(setting.left(slash), setting.mid(slash + 1, eq - slash - 1),
                       setting.mid(eq + 1));
    }
    for (const QString &text : prompter.texts())
        err << "kvo-save-credentials: " << text << "\n";
    return prompter.boxes().isEmpty() ? 0 : 1;
}
