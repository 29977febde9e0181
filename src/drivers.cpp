#include "drivers.h"

#include "backend.h"

#include <QHostAddress>
#include <QMutex>
#include <QNetworkInterface>
#include <QThreadPool>
#include <QTimer>
#include <QUdpSocket>
#include <QVector>

#include <algorithm>

namespace {

// Piecewise-linear map of the raw coolant byte: slope × raw − offset up to `last`.
struct CoolantRange
{
    int last;
    double slope;
    double offset;
};

constexpr CoolantRange coolantRanges[] = {
    {5, 0.0, -59.0},
    {15, 2.064, 70.526},
    {39, 0.834, 52.34},
    {81, 0.467, 38.095},
    {134, 0.377, 30.769},
    {180, 0.436, 38.667},
    {210, 0.665, 80.0},
    {228, 1.153, 182.941},
    {237, 2.179, 416.667},
    {243, 3.565, 745.455},
    {245, 7.843, 1784.0},
    {255, 0.0, -141.0},
};

// The synthetic drive of demonstration mode: climb by a step, then swing about the ceiling.
constexpr qint32 demoSpeedStep = 10;
constexpr qint32 demoSpeedCeiling = 100;
constexpr qint32 demoRpmStep = 500;
constexpr qint32 demoRpmCeiling = 5000;
constexpr double demoCoolantTemp = 85.0;

qint32 demoStep(qint32 value, qint32 step, qint32 ceiling)
{
    return value < ceiling ? value + step : value - step;
}

// The most a marker split across datagrams can leave of itself in the first one.
constexpr int longestMarkerStart =
    static_cast<int>(std::max(sizeof(BridgeProtocol::ecuMarker), sizeof(BridgeProtocol::serialMarker))) - 2;

// Where a frame ends: at the first line end, CR or LF, in [from, limit), else at `limit`.
int frameEnd(const QString &text, int from, int limit)
{
    // The next marker can begin before `from`, in text that an earlier datagram left open.
    if (from >= limit)
        return limit;
    const QStringRef range = text.midRef(from, limit - from);
    int end = limit;
    for (const QLatin1Char lineEnd : {QLatin1Char('\r'), QLatin1Char('\n')}) {
        const int found = range.indexOf(lineEnd);
        if (found >= 0)
            end = qMin(end, from + found);
    }
    return end;
}

// A frame's byte tokens: the text after its first colon, split at spaces, runs of them as one.
QVector<QStringRef> frameTokens(const QString &text)
{
    return text.midRef(text.indexOf(QLatin1Char(':')) + 1).trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool isHexDigit(QChar c)
{
    const char latin = c.toLatin1(); // 0 for anything outside Latin-1
    return (latin >= '0' && latin <= '9') || (latin >= 'a' && latin <= 'f') || (latin >= 'A' && latin <= 'F');
}

// Exactly what the bridge sends: every byte of a frame, each in one or two hexadecimal digits.
bool isAsSent(const QVector<QStringRef> &tokens)
{
    return tokens.size() == BridgeProtocol::wholeFrameBytes
           && std::all_of(tokens.begin(), tokens.end(), [](const QStringRef &token) {
                  return token.size() <= BridgeProtocol::maxDigitsPerByte
                         && std::all_of(token.begin(), token.end(), isHexDigit);
              });
}

// The longest tail of `text` that a later datagram could complete into a marker.
QString possibleMarkerStart(const QStringRef &text)
{
    for (int length = qMin(text.size(), longestMarkerStart); length > 0; --length) {
        const QStringRef tail = text.right(length);
        if (QLatin1String(BridgeProtocol::ecuMarker).startsWith(tail)
            || QLatin1String(BridgeProtocol::serialMarker).startsWith(tail))
            return tail.toString();
    }
    return QString();
}

bool listsBridgeAddress(const QList<QHostAddress> &addresses)
{
    const QHostAddress localHost(QHostAddress::LocalHost);
    const QString pattern = QLatin1String(BridgeProtocol::hostAddressPattern);
    return std::any_of(addresses.begin(), addresses.end(), [&](const QHostAddress &address) {
        return address.protocol() == QAbstractSocket::IPv4Protocol && address != localHost
               && address.toString().contains(pattern);
    });
}

} // namespace

// A question about the bridge's network on its way to a pool thread, and who awaits the answer:
// nobody once Drivers is gone.
struct AddressQuery
{
    QMutex mutex;
    Drivers *asker = nullptr;
    bool running = false;
};

Drivers::Drivers(BackEnd *backEnd, QObject *parent)
    : QObject(parent)
    , linkState(std::make_unique<LinkState>())
    , addressQuery(std::make_shared<AddressQuery>())
    , backEnd(backEnd)
{
    addressQuery->asker = this;
    createSocket();
    createTimer();
}

Drivers::~Drivers()
{
    // An answer already posted dies with this object's events.
    QMutexLocker lock(&addressQuery->mutex);
    addressQuery->asker = nullptr;
}

double Drivers::coolantCurve(int raw)
{
    for (const CoolantRange &range : coolantRanges) {
        if (raw <= range.last)
            return range.slope * raw - range.offset;
    }
    return -coolantRanges[std::size(coolantRanges) - 1].offset;
}

void Drivers::createSocket()
{
    socket = new QUdpSocket(this);
    // A taken port goes unreported: the dashboard still shows and can be closed.
    socket->bind(QHostAddress(QLatin1String(BridgeProtocol::bindAddress)), BridgeProtocol::port,
                 QAbstractSocket::DefaultForPlatform);
    connect(socket, &QUdpSocket::readyRead, this, &Drivers::readyRead);
}

void Drivers::readyRead()
{
    // Exactly one datagram per notification; the notifier fires again for the rest.
    QByteArray datagram;
    datagram.resize(static_cast<int>(socket->pendingDatagramSize()));
    socket->readDatagram(datagram.data(), datagram.size());
    receiveDatagram(datagram);
}

void Drivers::createTimer()
{
    timer = new QTimer(this);
    timer->setInterval(BridgeProtocol::pollIntervalMs);
    connect(timer, &QTimer::timeout, this, &Drivers::updateTime);
    timer->start();
}

void Drivers::updateTime()
{
    if (inDemoMode())
        runDemoTick();
    else
        runPollTick();
}

void Drivers::receiveDatagram(const QByteArray &datagram)
{
    // Any datagram, even an empty or unrecognised one, is a sign of life.
    backEnd->markLinkAlive();
    linkState->silentTicks = 0;
    QString &buffer = linkState->receiveBuffer;
    const int datagramStart = buffer.size();
    buffer += QString::fromUtf8(datagram); // stops at the first NUL byte
    if (buffer.contains(QLatin1String(BridgeProtocol::serialMarker))) {
        forgetLineHabit();
        parseSerialLine();
        sendToBridge(QLatin1String(BridgeProtocol::identificationReply));
        return;
    }
    decodeNewestFrame(datagramStart);
    capReceiveBuffer();
}

void Drivers::decodeNewestFrame(int datagramStart)
{
    // Decodes the newest frame that this datagram ended, once. Stray text is dropped, and only a
    // frame still open, or what could start a marker, waits for the next datagram.
    QString &buffer = linkState->receiveBuffer;
    const EndedFrames frames = endFrames(datagramStart);
    const bool pieced = frames.newest < datagramStart;
    if (frames.open >= 0) {
        if (frames.newest >= 0)
            showFrame(buffer.mid(frames.newest, frames.newestEnd - frames.newest), pieced, frames.lineEnded);
        buffer.remove(0, frames.open);
    } else if (frames.newest >= 0) {
        // Nothing after its end holds a marker; cutting the frame out in place spares a copy.
        const QString rest = possibleMarkerStart(buffer.midRef(frames.newestEnd));
        buffer.truncate(frames.newestEnd);
        buffer.remove(0, frames.newest);
        showFrame(buffer, pieced, frames.lineEnded);
        buffer = rest;
    } else {
        buffer = possibleMarkerStart(QStringRef(&buffer));
    }
}

Drivers::EndedFrames Drivers::endFrames(int datagramStart)
{
    // Every frame that the datagram ended tells how the bridge ends its lines, superseded or not.
    const QString &buffer = linkState->receiveBuffer;
    const QLatin1String marker(BridgeProtocol::ecuMarker);
    EndedFrames frames;
    for (frames.open = buffer.indexOf(marker); frames.open >= 0;) {
        const int next = buffer.indexOf(marker, frames.open + marker.size());
        const int limit = next >= 0 ? next : buffer.size();
        // A frame kept open had no line end before this datagram.
        const int end = frameEnd(buffer, qMax(frames.open + marker.size(), datagramStart), limit);
        if (end == buffer.size())
            break;
        frames.newest = frames.open;
        frames.newestEnd = end;
        frames.lineEnded = end < limit;
        noteFrameEnd(frames.lineEnded);
        frames.open = next;
    }
    return frames;
}

void Drivers::noteFrameEnd(bool lineEnded)
{
    // The habit follows what the bridge does now: one line end turns it back.
    int &count = linkState->framesEndedByMarker;
    count = lineEnded ? 0 : qMin(count + 1, BridgeProtocol::openLinesAfterFrames);
}

void Drivers::forgetLineHabit()
{
    // A bridge that identifies itself again, or comes back, may end its lines otherwise.
    linkState->framesEndedByMarker = 0;
}

bool Drivers::bridgeLeavesLinesOpen() const
{
    return linkState->framesEndedByMarker >= BridgeProtocol::openLinesAfterFrames;
}

void Drivers::showFrame(const QString &text, bool pieced, bool lineEnded)
{
    // UDP loses and repeats datagrams. A frame put together from pieces, or that only the next
    // marker ended, shows only as the bridge sends it; one without a line end shows only from a
    // bridge that leaves its lines open, as from any other it lost its tail.
    if (inDemoMode() || (!lineEnded && !bridgeLeavesLinesOpen()))
        return;
    if ((pieced || !lineEnded) && !isAsSent(frameTokens(text)))
        return;
    decodeEcuFrame(text);
}

void Drivers::capReceiveBuffer()
{
    // The tail is kept so that a marker split across datagrams is still found.
    QString &buffer = linkState->receiveBuffer;
    if (buffer.size() > BridgeProtocol::receiveBufferLimit)
        buffer.remove(0, buffer.size() - BridgeProtocol::receiveBufferLimit);
}

void Drivers::sendToBridge(const QString &text)
{
    linkState->receiveBuffer = QLatin1String("");
    const QByteArray payload = text.toLatin1() + BridgeProtocol::lineEnd;
    socket->writeDatagram(payload, QHostAddress(QLatin1String(BridgeProtocol::bridgeAddress)),
                          BridgeProtocol::port);
}

// Listing addresses takes the kernel's network lock, which link changes (Wi-Fi dropping and
// coming back, a card being renamed) can hold for seconds. The GUI thread draws and tells the
// watchdog it lives, so it never waits for that lock: a pool thread asks and posts the answer.
void Drivers::askForBridgeAddress()
{
    QMutexLocker lock(&addressQuery->mutex);
    if (addressQuery->running)
        return; // the kernel has not answered the last question yet
    addressQuery->running = true;
    QThreadPool::globalInstance()->start([query = addressQuery] {
        const bool seen = listsBridgeAddress(QNetworkInterface::allAddresses());
        QMutexLocker lock(&query->mutex);
        query->running = false;
        if (Drivers *asker = query->asker)
            QMetaObject::invokeMethod(asker, [asker, seen] { asker->bridgeAddressAnswered(seen); }, Qt::QueuedConnection);
    });
}

void Drivers::bridgeAddressAnswered(bool seen)
{
    linkState->onBridgeNetwork = seen;
    if (seen && linkState->snField1.isEmpty() && !inDemoMode())
        sendToBridge(QLatin1String(BridgeProtocol::probe));
}

void Drivers::parseSerialLine()
{
    LinkState &state = *linkState;
    state.snLine = state.receiveBuffer.trimmed();
    const QStringList parts = state.snLine.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() < BridgeProtocol::minSerialParts)
        return;
    const QString labelled = parts.at(1).trimmed();
    state.snField1 = parts.at(0).trimmed();
    state.snField2 = labelled.mid(labelled.indexOf(QLatin1Char(':')) + 1).trimmed();
    state.snField3 = parts.at(2).trimmed();
    state.snField4 = parts.at(3).trimmed();
}

void Drivers::decodeEcuFrame(const QString &text)
{
    const QVector<QStringRef> tokens = frameTokens(text);
    QByteArray &bytes = linkState->frameBytes;
    bytes.clear();
    for (const QStringRef &token : tokens)
        bytes.append(static_cast<char>(token.toInt(nullptr, 16) & 0xFF));

    // An absent byte decodes exactly like a byte of 0 in every field.
    const auto byteAt = [&bytes](int index) -> int {
        return index < bytes.size() ? static_cast<quint8>(bytes.at(index)) : 0;
    };
    const int status11 = byteAt(BridgeProtocol::statusByte11);
    const int status12 = byteAt(BridgeProtocol::statusByte12);
    EngineData &data = *backEnd->engineData;
    data.vehicleSpeed = byteAt(BridgeProtocol::vehicleSpeedByte);
    data.engineSpeed = byteAt(BridgeProtocol::engineSpeedByte) * BridgeProtocol::rpmPerEngineSpeedStep;
    data.coolantTemp = coolantCurve(byteAt(BridgeProtocol::coolantByte));
    data.byte1Value = byteAt(1) * 0.125;
    data.byte2Value = byteAt(2) * 0.47 - 30.0;
    data.byte3Value = 0.0;
    data.byte7Value = byteAt(7) / 2;
    data.byte5Value = byteAt(5) / 1.535;
    data.warmFlag = status11 & BridgeProtocol::warmBit;
    data.coldFlag = status11 & BridgeProtocol::coldBit;
    data.byte11Bit4 = status11 & 0x10;
    data.byte11Bit5 = status11 & 0x20;
    data.byte11Bit6 = status11 & 0x40;
    data.byte12Bit0 = status12 & 0x01;
    data.byte12Bit1 = status12 & 0x02;
    data.byte12Bit2 = status12 & 0x04;
    data.parkNeutralFlag = status12 & BridgeProtocol::parkNeutralBit;
    data.byte12Bit4 = status12 & 0x10;
    data.byte12Bit5 = status12 & 0x20;
    data.byte12Bit7 = status12 & 0x80;
    backEnd->refreshFromEngineData();
}

void Drivers::runDemoTick()
{
    demoSpeed = demoStep(demoSpeed, demoSpeedStep, demoSpeedCeiling);
    demoRpm = demoStep(demoRpm, demoRpmStep, demoRpmCeiling);
    EngineData &data = *backEnd->engineData;
    data.vehicleSpeed = demoSpeed;
    data.engineSpeed = demoRpm;
    data.warmFlag = true;
    data.coldFlag = true;
    data.byte12Bit2 = true;
    data.parkNeutralFlag = true;
    data.coolantTemp = demoCoolantTemp;
    backEnd->refreshFromEngineData();
}

void Drivers::runPollTick()
{
    askForBridgeAddress();
    countSilentTick();
}

void Drivers::countSilentTick()
{
    if (++linkState->silentTicks <= BridgeProtocol::maxSilentTicks)
        return;
    forgetLineHabit();
    backEnd->markLinkLost();
}

bool Drivers::inDemoMode() const
{
    return linkState->demoDemand > BridgeProtocol::maxDemandsBeforeDemo;
}
