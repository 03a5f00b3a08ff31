// The program folder's binary files: byte 0 picks the reader ("CheckedIP",
// "DynamicIPUse", "Encrypt.dat"), the rest is the file.
#include "fuzzsupport.h"

#include "core/ccrypto.h"
#include "mainwindow/checkedipfile.h"
#include "mainwindow/iplistmodel.h"
#include "platform/prompter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzApp();
    if (size < 1)
        return 0;
    const int which = data[0] % 3;
    ++data;
    --size;
    if (which == 0) {
        QStringList list;
        CheckedIpFile::load(fuzzFile("CheckedIP", data, size), list);
        if (qsizetype(size / 4) < list.size())
            __builtin_trap();
    } else if (which == 1) {
        const auto records = UsageHistoryFile::read(fuzzFile("DynamicIPUse", data, size));
        if (qsizetype(size / 16) != records.size())
            __builtin_trap();
    } else {
        ScriptedPrompter boxes;
        CCrypto crypto(boxes);
        crypto.DeriveKey(kKeyPassword);
        QString text;
        const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
        crypto.Decrypt(bytes, text);
        readArchiveString(bytes, text);
    }
    return 0;
}
