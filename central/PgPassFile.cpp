#include "PgPassFile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStringList>

namespace central {
namespace {

QString Escape(const QString& field) {
    QString out;
    for (const QChar c : field) {
        if (c == QLatin1Char(':') || c == QLatin1Char('\\')) out += QLatin1Char('\\');
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) continue;
        out += c;
    }
    return out;
}

// The first four fields of an entry, still escaped, as one key.
QString EntryKey(const QString& line) {
    int fields = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == QLatin1Char('\\')) {
            ++i;
            continue;
        }
        if (line[i] == QLatin1Char(':') && ++fields == 4) return line.left(i);
    }
    return {};
}

}  // namespace

QString PgPassFilePath() {
    const QString fromEnvironment = qEnvironmentVariable("PGPASSFILE");
    if (!fromEnvironment.isEmpty()) return fromEnvironment;
    return QDir::homePath() + QStringLiteral("/.pgpass");
}

QString PgPassLine(const QString& host, int port, const QString& database, const QString& user,
                   const QString& password) {
    return Escape(host) + QLatin1Char(':') + QString::number(port) + QLatin1Char(':') +
           Escape(database) + QLatin1Char(':') + Escape(user) + QLatin1Char(':') + Escape(password);
}

QString WithPgPassEntry(const QString& existing, const QString& line) {
    const QString key = EntryKey(line);
    QStringList lines = existing.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    bool replaced = false;
    for (QString& old : lines) {
        if (!old.startsWith(QLatin1Char('#')) && !key.isEmpty() && EntryKey(old) == key) {
            if (!replaced) old = line;
            replaced = true;
        }
    }
    if (!replaced) lines << line;
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

bool StorePgPassEntry(const QString& path, const QString& host, int port, const QString& database,
                      const QString& user, const QString& password, QString& error) {
    QString existing;
    QFile old(path);
    if (old.exists()) {
        if (!old.open(QIODevice::ReadOnly)) {
            error = old.errorString();
            return false;
        }
        existing = QString::fromUtf8(old.readAll());
        old.close();
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    // libpq ignores a password file that others may read.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(
        WithPgPassEntry(existing, PgPassLine(host, port, database, user, password)).toUtf8());
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

}  // namespace central
