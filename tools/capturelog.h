#ifndef CAPTURELOG_H
#define CAPTURELOG_H

#include "capturerecord.h"

#include <QFile>
#include <QString>
#include <QVector>

// The record file: "<monotonic ms> <in|out> <hex bytes...>" per datagram, flushed line by line
// so a test can read it while the simulator runs.
class CaptureLog
{
public:
    bool open(const QString &path, QString *error);
    bool isOpen() const { return file.isOpen(); }
    void append(const CaptureRecord &record);

    static QByteArray format(const CaptureRecord &record);
    // Reads a record; a line that is neither a comment nor a datagram is an error.
    static bool read(const QString &path, QVector<CaptureRecord> *records, QString *error);
    static bool parseLine(const QByteArray &line, CaptureRecord *record);

private:
    QFile file;
};

#endif // CAPTURELOG_H
