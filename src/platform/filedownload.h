#pragma once

#include <QString>

#include <functional>

// Downloads an address into a file (created or truncated), reporting
// progress as (bytes so far, total bytes or 0 when the server sends no
// length). The progress function returns false to abort. HTTP errors
// (status 400 and above) and transport errors are failures; error then holds
// the library's text. Only http and https addresses are fetched, also
// across redirects (at most 5); any other address fails without touching
// the file. Runs on the calling thread.
bool downloadToFile(const QString &url, const QString &path,
                    const std::function<bool(qint64 done, qint64 total)> &progress,
                    QString *error = nullptr);
