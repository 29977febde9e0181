#include "capturelog.h"

#include <QList>

namespace {

const QByteArray inWord = "in";
const QByteArray outWord = "out";

} // namespace

bool CaptureLog::open(const QString &path, QString *error)
{
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        *error = QStringLiteral("cannot write the record \"%1\": %2").arg(path, file.errorString());
        return false;
    }
    file.write("# bridgesim record: monotonic-ms in|out hex-bytes\n");
    file.flush();
    return true;
}

void CaptureLog::append(const CaptureRecord &record)
{
    if (!file.isOpen())
        return;
    file.write(format(record) + '\n');
    file.flush();
}

QByteArray CaptureLog::format(const CaptureRecord &record)
{
    QByteArray line = QByteArray::number(record.monotonicMs) + ' '
                      + (record.direction == CaptureRecord::Direction::In ? inWord : outWord);
    if (!record.bytes.isEmpty())
        line += ' ' + record.bytes.toHex(' ').toUpper();
    return line;
}

bool CaptureLog::read(const QString &path, QVector<CaptureRecord> *records, QString *error)
{
    QFile input(path);
    if (!input.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read the capture \"%1\": %2").arg(path, input.errorString());
        return false;
    }
    records->clear();
    int lineNumber = 0;
    while (!input.atEnd()) {
        const QByteArray line = input.readLine().trimmed();
        ++lineNumber;
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        CaptureRecord record;
        if (!parseLine(line, &record)) {
            *error = QStringLiteral("%1:%2: not \"<ms> <in|out> <hex bytes>\"").arg(path).arg(lineNumber);
            return false;
        }
        records->append(record);
    }
    return true;
}

bool CaptureLog::parseLine(const QByteArray &line, CaptureRecord *record)
{
    const QList<QByteArray> words = line.simplified().split(' ');
    if (words.size() < 2)
        return false;
    bool ok = false;
    record->monotonicMs = words.at(0).toLongLong(&ok);
    if (!ok || (words.at(1) != inWord && words.at(1) != outWord))
        return false;
    record->direction = words.at(1) == inWord ? CaptureRecord::Direction::In : CaptureRecord::Direction::Out;
    record->bytes.clear();
    for (int i = 2; i < words.size(); ++i) {
        const uint byte = words.at(i).toUInt(&ok, 16);
        if (!ok || words.at(i).size() != 2)
            return false;
        record->bytes.append(static_cast<char>(byte));
    }
    return true;
}
