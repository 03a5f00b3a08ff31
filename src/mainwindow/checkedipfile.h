#pragma once

#include <QString>
#include <QStringList>

// "CheckedIP": one 4-byte record per checked address, the address in network
// byte order, in list order; no header. A file cut short is read up to its
// last whole record. Writes replace the file in one step.
namespace CheckedIpFile {
// Appends the file's addresses to list, skipping those already there.
// A missing or unreadable file adds nothing.
void load(const QString &path, QStringList &list);
// False when the file cannot be written; the old file is then left as it was.
bool save(const QString &path, const QStringList &list);
// Keeps what the file holds and adds to it: list receives the file's
// addresses (as load), then every address of `more` that is a dotted IPv4
// address and not there yet; the file is saved with the result. False when
// the file cannot be written.
bool merge(const QString &path, const QStringList &more, QStringList &list);
} // namespace CheckedIpFile
