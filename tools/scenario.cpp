#include "scenario.h"

#include "driveprofile.h"
#include "drivers.h"

#include <QtMath>

#include <algorithm>
#include <iterator>

namespace {

// Unread frame bytes, where junk must not change what the dashboard shows.
constexpr int unreadBytes[] = {0, 3, 9, 10};

QByteArray hexToken(char byte)
{
    return QByteArray::number(static_cast<quint8>(byte), 16).rightJustified(2, '0').toUpper();
}

QByteArray joinedTokens(const QByteArrayList &tokens, const QByteArray &separator)
{
    return QByteArray(BridgeProtocol::ecuMarker) + ' ' + tokens.join(separator) + BridgeProtocol::lineEnd;
}

// What befalls the pieces of every nth frame on the way, in turn.
enum class Mishap { None, LoseLast, LoseMiddle, LoseLastAndNextFirst, SendMiddleTwice };
constexpr Mishap mishapTurns[] = {Mishap::LoseLast, Mishap::LoseMiddle, Mishap::LoseLastAndNextFirst,
                                  Mishap::SendMiddleTwice};

Mishap mishapOf(int frameNumber, int every)
{
    if (every <= 0 || frameNumber < 0 || frameNumber % every != 0)
        return Mishap::None;
    return mishapTurns[frameNumber / every % static_cast<int>(std::size(mishapTurns))];
}

QByteArrayList onTheWay(QByteArrayList pieces, int frameNumber, int every)
{
    // Wi-Fi loses datagrams in a row too: the last of one frame and the first of the next.
    if (mishapOf(frameNumber - 1, every) == Mishap::LoseLastAndNextFirst && !pieces.isEmpty())
        pieces.removeFirst();
    if (pieces.isEmpty())
        return pieces;
    const int middle = pieces.size() / 2;
    switch (mishapOf(frameNumber, every)) {
    case Mishap::None:
        break;
    case Mishap::LoseLast:
    case Mishap::LoseLastAndNextFirst:
        pieces.removeLast();
        break;
    case Mishap::LoseMiddle:
        pieces.removeAt(middle);
        break;
    case Mishap::SendMiddleTwice:
        pieces.insert(middle, pieces.at(middle));
        break;
    }
    return pieces;
}

} // namespace

Scenario::Scenario(const SimOptions &options, const QVector<CaptureRecord> &capture)
    : options(options)
{
    for (const CaptureRecord &record : capture) {
        if (record.direction == CaptureRecord::Direction::Out)
            replayed.append(record);
    }
}

int Scenario::tickIntervalMs() const
{
    if (options.scenario == SimOptions::Scenario::Replay)
        return replayTickMs;
    return qMax(1, qRound(1000.0 / options.rateHz));
}

QByteArrayList Scenario::datagramsBetween(qint64 previousMs, qint64 nowMs) const
{
    using Kind = SimOptions::Scenario;
    switch (options.scenario) {
    case Kind::Listen:
    case Kind::Quiet:
        return {};
    case Kind::Replay:
        return replayBetween(previousMs, nowMs);
    default:
        break;
    }
    if (inGap(nowMs))
        return {};

    QByteArrayList datagrams;
    const bool backFromVanishing = options.scenario == Kind::Vanish && previousMs >= 0 && isAway(previousMs);
    const bool reidentDue = options.scenario == Kind::Reident && previousMs >= 0
                            && nowMs / options.everyMs > previousMs / options.everyMs;
    if (backFromVanishing || reidentDue)
        datagrams << options.identification + BridgeProtocol::lineEnd;

    const QByteArray line = frameLineAt(nowMs);
    if (options.scenario == Kind::Split) {
        const int frameNumber = int(nowMs / tickIntervalMs());
        const QByteArrayList pieces = options.cuts.isEmpty() ? splitLine(line, options.parts, frameNumber)
                                                             : cutLine(line, options.cuts);
        datagrams << onTheWay(pieces, frameNumber, options.loseEvery);
    } else if (options.scenario == Kind::Malformed) {
        const int variant = int((nowMs / tickIntervalMs()) % malformedVariants);
        datagrams << malformedLine(frameBytesAt(nowMs), variant);
    } else {
        datagrams << line;
    }
    return datagrams;
}

bool Scenario::isAway(qint64 streamMs) const
{
    return options.scenario == SimOptions::Scenario::Vanish && inGap(streamMs);
}

bool Scenario::answersProbes() const
{
    return options.scenario != SimOptions::Scenario::Listen && options.scenario != SimOptions::Scenario::Replay;
}

QByteArray Scenario::frameLineAt(qint64 streamMs) const
{
    return EcuFrame::line(frameBytesAt(streamMs));
}

QByteArray Scenario::malformedLine(const QByteArray &frameBytes, int variant)
{
    QByteArrayList tokens;
    for (const char byte : frameBytes)
        tokens << hexToken(byte);
    switch (variant) {
    case 1:
        for (QByteArray &token : tokens)
            token = token.toLower();
        return joinedTokens(tokens, " ");
    case 2:
        return QByteArray(BridgeProtocol::ecuMarker) + "   " + tokens.join("    ") + "  " + BridgeProtocol::lineEnd;
    case 3:
        for (const int index : unreadBytes) {
            if (index < tokens.size())
                tokens[index] = index % 2 ? "zz" : "1G";
        }
        return joinedTokens(tokens, " ");
    case 4:
        for (QByteArray &token : tokens)
            token.prepend("0x");
        return joinedTokens(tokens, " ");
    case 5:
        tokens << "FF" << "7E" << "junk";
        return joinedTokens(tokens, " ");
    default:
        return joinedTokens(tokens, " ");
    }
}

QByteArray Scenario::frameBytesAt(qint64 streamMs) const
{
    const bool fixed = options.fixedFrame || options.scenario == SimOptions::Scenario::Fixed;
    return fixed ? options.frameBytes : DriveProfile::frameAt(streamMs).bytes();
}

QByteArrayList Scenario::splitLine(const QByteArray &line, int parts, int shift)
{
    // Evenly spread cuts, moved on by `shift` bytes: over successive shifts every offset is cut,
    // inside the marker, a token or the line end as well as between tokens.
    const int pieces = qMin(parts, line.size());
    const int offsets = line.size() - 1;
    QVector<int> cuts;
    for (int cut = 0; cut + 1 < pieces; ++cut)
        cuts << 1 + (shift + cut * offsets / (pieces - 1)) % offsets;
    std::sort(cuts.begin(), cuts.end());
    return cutLine(line, cuts);
}

QByteArrayList Scenario::cutLine(const QByteArray &line, const QVector<int> &cuts)
{
    QByteArrayList result;
    int start = 0;
    for (const int cut : cuts) {
        if (cut >= line.size())
            break;
        result << line.mid(start, cut - start);
        start = cut;
    }
    result << line.mid(start);
    return result;
}

bool Scenario::inGap(qint64 streamMs) const
{
    using Kind = SimOptions::Scenario;
    if (options.scenario != Kind::Silence && options.scenario != Kind::Vanish)
        return false;
    return streamMs % (options.activeMs + options.gapMs) >= options.activeMs;
}

QByteArrayList Scenario::replayBetween(qint64 previousMs, qint64 nowMs) const
{
    QByteArrayList datagrams;
    if (replayed.isEmpty())
        return datagrams;
    const qint64 firstMs = replayed.constFirst().monotonicMs;
    for (const CaptureRecord &record : replayed) {
        const qint64 offset = record.monotonicMs - firstMs;
        if (offset > previousMs && offset <= nowMs)
            datagrams << record.bytes;
    }
    return datagrams;
}
