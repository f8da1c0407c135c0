#include "UnsavedRows.h"

#include <QBuffer>
#include <QDataStream>
#include <QFileInfo>

#include "OwnFile.h"

namespace waga::journal {

namespace {
constexpr quint32 kMagic = 0x5741474E;  // "WAGN"
constexpr quint32 kVersion = 1;
constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_6_0;

QByteArray Bytes(const std::string& text) {
    return QByteArray(text.data(), qsizetype(text.size()));
}

std::string String(const QByteArray& bytes) {
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}
}  // namespace

bool WriteUnsavedRows(const QString& path, const std::vector<JournalOp>& ops, QString& error) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QDataStream out(&buffer);
    out.setVersion(kStreamVersion);
    out << kMagic << kVersion << quint64(ops.size());
    for (const JournalOp& op : ops) {
        const JournalRow& r = op.row;
        out << quint8(op.type) << qint64(r.seq) << quint8(r.kind) << qint64(r.firstMs)
            << qint64(r.lastMs) << qint64(r.count) << Bytes(r.text) << Bytes(r.raw) << bool(r.value)
            << (r.value ? *r.value : 0.0) << Bytes(r.unit) << Bytes(r.port);
    }
    if (out.status() != QDataStream::Ok) {
        error = QStringLiteral("Nie można zapisać pliku %1.").arg(QFileInfo(path).fileName());
        return false;
    }
    return WriteOwnFile(path, bytes, error);
}

bool ReadUnsavedRows(const QString& path, std::vector<JournalOp>& ops, QString& error) {
    ops.clear();
    QByteArray bytes;
    bool missing = false;
    // The file is at most what a close queued: the writer's queue bound, and a little more.
    if (!ReadOwnFile(path, qint64{1} << 31, bytes, missing, error)) return false;
    if (missing) return true;
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    QDataStream in(&file);
    in.setVersion(kStreamVersion);
    quint32 magic = 0, version = 0;
    quint64 count = 0;
    in >> magic >> version >> count;
    bool ok = in.status() == QDataStream::Ok && magic == kMagic && version == kVersion &&
              count <= quint64(file.size());  // every row takes more than one byte
    for (quint64 i = 0; ok && i < count; ++i) {
        quint8 type = 0, kind = 0;
        qint64 seq = 0, firstMs = 0, lastMs = 0, lines = 0;
        QByteArray text, raw, unit, port;
        bool hasValue = false;
        double value = 0;
        in >> type >> seq >> kind >> firstMs >> lastMs >> lines >> text >> raw >> hasValue >>
            value >> unit >> port;
        ok = in.status() == QDataStream::Ok && type <= quint8(JournalOp::Type::Grow) &&
             kind <= quint8(JournalKind::Gap) && SeqInRange(seq);
        if (!ok) break;
        JournalOp op;
        op.type = JournalOp::Type(type);
        op.row =
            JournalRow{seq,          JournalKind(kind), firstMs,      lastMs,       lines,
                       String(text), String(raw),       std::nullopt, String(unit), String(port)};
        if (hasValue) op.row.value = value;
        ops.push_back(std::move(op));
    }
    if (ok && in.atEnd()) return true;
    ops.clear();
    error = QStringLiteral("Plik %1 jest uszkodzony.").arg(QFileInfo(path).fileName());
    return false;
}

}  // namespace waga::journal
