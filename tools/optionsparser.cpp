#include "optionsparser.h"

#include "drivers.h"

#include <QFileInfo>

#include <iterator>

namespace {

struct ScenarioName
{
    SimOptions::Scenario scenario;
    const char *name;
};

constexpr ScenarioName scenarioNames[] = {
    {SimOptions::Scenario::Drive, "drive"},         {SimOptions::Scenario::Fixed, "fixed"},
    {SimOptions::Scenario::Silence, "silence"},     {SimOptions::Scenario::Vanish, "vanish"},
    {SimOptions::Scenario::Split, "split"},         {SimOptions::Scenario::Malformed, "malformed"},
    {SimOptions::Scenario::Reident, "reident"},     {SimOptions::Scenario::Replay, "replay"},
    {SimOptions::Scenario::Listen, "listen"},       {SimOptions::Scenario::Quiet, "quiet"},
};

constexpr int maxDelayMs = 10000;
constexpr double maxSeconds = 86400.0;
constexpr int maxParts = 16;
constexpr int maxLoseEvery = 1000;
constexpr int maxFrameBytes = 64;

const char description[] = R"(A stand-in for the Wi-Fi bridge that relays a car's ECU data to Motrel.

It behaves like the bridge: it answers the dashboard's probe "0" with an
identification line ("SN:" and at least three more space-separated parts, the
second of the form label:value), and once the dashboard has replied "&TE2=1"
it streams "ECU:" frames (13 bytes as space-separated hex: byte 4 = rpm / 25,
byte 6 = raw coolant, byte 8 = km/h, byte 11 bit 0 CLD and bit 1 WRM,
byte 12 bit 3 P/N) to the address and port the probe came from.

Scenarios (--scenario):
  drive      a realistic drive, repeating every 60 s: idle in P/N, pull-away,
             four gear changes, cruising near 100 km/h, braking to a stop; the
             coolant warms from 15 to 90 C at 1 C/s, so CLD, then WRM, then
             neither are set
  fixed      the same frame over and over (--frame, or --speed, --rpm,
             --coolant-raw, --cold, --warm, --pn)
  silence    frames for --active seconds, then nothing for --gap seconds, again
             and again; probes are still answered
  vanish     like silence, but while gone the bridge answers nothing, and on
             coming back it identifies itself again before the next frame
  split      every frame split into --parts datagrams at cuts that move on by
             a byte with each frame, so that every offset is cut in turn: inside
             the marker, a token or the line end too; or at the fixed byte offsets
             of --cuts; with --lose, pieces are lost on the way, two in a row
             too, or arrive twice
  malformed  frames with junk in the bytes the dashboard ignores, lower-case
             digits, runs of spaces, 0x prefixes and extra bytes; the shown
             values stay right
  reident    the identification line again every --every seconds, mid-stream
  replay     sends the "out" lines of a record (--capture) with their original
             spacing, starting at the first datagram from the dashboard
  listen     answers nothing, sends nothing: only records
  quiet      answers probes with the identification, never streams
silence, vanish, split, malformed and reident stream the drive unless a fixed
frame is given.

Record (--record): one line per datagram, flushed at once:
  <monotonic ms> <in|out> <hex bytes...>
where monotonic ms is CLOCK_MONOTONIC in milliseconds, "in" a datagram from
the dashboard and "out" one the simulator sent. Lines starting with # are
comments.

Run it where the dashboard reaches it as %1, for instance in a network
namespace (scripts/run does that); never on a network with a real bridge.)";

} // namespace

OptionsParser::OptionsParser()
{
    parser.setApplicationDescription(QString::fromUtf8(description).arg(QLatin1String(BridgeProtocol::bridgeAddress)));
    parser.addHelpOption();
    parser.addOptions({
        {{QStringLiteral("s"), QStringLiteral("scenario")}, QStringLiteral("Scenario to run (default drive)."),
         QStringLiteral("name")},
        {QStringLiteral("bind"), QStringLiteral("Local IPv4 address to listen on (default 0.0.0.0)."),
         QStringLiteral("address")},
        {QStringLiteral("port"), QStringLiteral("Local UDP port (default %1).").arg(BridgeProtocol::port),
         QStringLiteral("port")},
        {QStringLiteral("peer"),
         QStringLiteral("Stream to this dashboard at once, without waiting for its probe (port %1 unless given).")
             .arg(BridgeProtocol::port),
         QStringLiteral("address[:port]")},
        {QStringLiteral("ident"), QStringLiteral("Identification line to answer a probe with."),
         QStringLiteral("text")},
        {QStringLiteral("rate"), QStringLiteral("Frames per second, 0.1 to 100 (default 5)."), QStringLiteral("hz")},
        {QStringLiteral("latency"), QStringLiteral("Delay before every datagram goes out (default 0)."),
         QStringLiteral("ms")},
        {QStringLiteral("jitter"),
         QStringLiteral("Random extra delay of up to this much; datagrams keep their order (default 0)."),
         QStringLiteral("ms")},
        {QStringLiteral("frame"), QStringLiteral("Fixed frame as hex bytes, e.g. \"00 00 00 00 50 00 C8\"."),
         QStringLiteral("hex")},
        {QStringLiteral("speed"), QStringLiteral("Fixed frame: vehicle speed, 0 to 255."), QStringLiteral("kmh")},
        {QStringLiteral("rpm"), QStringLiteral("Fixed frame: engine speed, 0 to 6375 (sent as rpm / 25)."),
         QStringLiteral("rpm")},
        {QStringLiteral("coolant-raw"), QStringLiteral("Fixed frame: raw coolant byte, 0 to 255."),
         QStringLiteral("byte")},
        {QStringLiteral("cold"), QStringLiteral("Fixed frame: set CLD.")},
        {QStringLiteral("warm"), QStringLiteral("Fixed frame: set WRM.")},
        {QStringLiteral("pn"), QStringLiteral("Fixed frame: set P/N.")},
        {QStringLiteral("active"), QStringLiteral("silence, vanish: seconds of frames between gaps (default 4)."),
         QStringLiteral("s")},
        {QStringLiteral("gap"), QStringLiteral("silence, vanish: seconds without frames (default 8)."),
         QStringLiteral("s")},
        {QStringLiteral("parts"), QStringLiteral("split: datagrams per frame, 2 to 16 (default 2)."),
         QStringLiteral("n")},
        {QStringLiteral("cuts"),
         QStringLiteral("split: cut each frame line at these byte offsets, e.g. 2,20 (\"EC\" alone first)."),
         QStringLiteral("n,n...")},
        {QStringLiteral("lose"),
         QStringLiteral("split: every nth frame loses, in turn, its last piece, a middle one, its last and the "
                        "next frame's first, or sends a middle one twice (default none)."),
         QStringLiteral("n")},
        {QStringLiteral("every"), QStringLiteral("reident: seconds between identifications (default 10)."),
         QStringLiteral("s")},
        {QStringLiteral("capture"), QStringLiteral("replay: the record to replay."), QStringLiteral("file")},
        {QStringLiteral("record"), QStringLiteral("Write every datagram in and out to this file."),
         QStringLiteral("file")},
        {QStringLiteral("duration"), QStringLiteral("Quit after this many seconds (default: run until killed)."),
         QStringLiteral("s")},
    });
}

OptionsParser::Outcome OptionsParser::parse(const QStringList &arguments)
{
    parsed = SimOptions();
    error.clear();
    if (!parser.parse(arguments)) {
        fail(parser.errorText());
        return Outcome::Error;
    }
    if (parser.isSet(QStringLiteral("help")))
        return Outcome::Help;
    if (!parser.positionalArguments().isEmpty()) {
        fail(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().constFirst()));
        return Outcome::Error;
    }
    const bool ok = readScenario() && readAddresses() && readTiming() && readFrame() && readScenarioShape()
                    && readFiles();
    return ok ? Outcome::Run : Outcome::Error;
}

QString OptionsParser::helpText() const
{
    return parser.helpText();
}

QString OptionsParser::scenarioName(SimOptions::Scenario scenario)
{
    for (const ScenarioName &entry : scenarioNames) {
        if (entry.scenario == scenario)
            return QLatin1String(entry.name);
    }
    return QString();
}

bool OptionsParser::readScenario()
{
    if (!parser.isSet(QStringLiteral("scenario")))
        return true;
    const QString name = parser.value(QStringLiteral("scenario"));
    for (const ScenarioName &entry : scenarioNames) {
        if (name == QLatin1String(entry.name)) {
            parsed.scenario = entry.scenario;
            return true;
        }
    }
    QStringList known;
    for (const ScenarioName &entry : scenarioNames)
        known << QLatin1String(entry.name);
    return fail(QStringLiteral("unknown scenario \"%1\"; choose one of %2").arg(name, known.join(QStringLiteral(", "))));
}

bool OptionsParser::readAddresses()
{
    if (parser.isSet(QStringLiteral("bind"))) {
        const QString text = parser.value(QStringLiteral("bind"));
        if (!parsed.bindAddress.setAddress(text) || parsed.bindAddress.protocol() != QAbstractSocket::IPv4Protocol)
            return fail(QStringLiteral("--bind needs an IPv4 address, not \"%1\"").arg(text));
    }
    int port = parsed.port;
    if (!readInteger(QStringLiteral("port"), 0, 65535, &port))
        return false;
    parsed.port = static_cast<quint16>(port);
    if (parser.isSet(QStringLiteral("peer"))) {
        const QString text = parser.value(QStringLiteral("peer"));
        const QStringList pieces = text.split(QLatin1Char(':'));
        bool portOk = true;
        const int peerPort = pieces.size() == 2 ? pieces.at(1).toInt(&portOk) : parsed.peerPort;
        if (pieces.size() > 2 || !parsed.peerAddress.setAddress(pieces.at(0))
            || parsed.peerAddress.protocol() != QAbstractSocket::IPv4Protocol || !portOk || peerPort < 1
            || peerPort > 65535)
            return fail(QStringLiteral("--peer needs an IPv4 address with an optional :port, not \"%1\"").arg(text));
        parsed.peerPort = static_cast<quint16>(peerPort);
    }
    if (parser.isSet(QStringLiteral("ident")))
        parsed.identification = parser.value(QStringLiteral("ident")).toLatin1();
    return true;
}

bool OptionsParser::readTiming()
{
    return readNumber(QStringLiteral("rate"), 0.1, 100.0, &parsed.rateHz)
           && readInteger(QStringLiteral("latency"), 0, maxDelayMs, &parsed.latencyMs)
           && readInteger(QStringLiteral("jitter"), 0, maxDelayMs, &parsed.jitterMs)
           && readSeconds(QStringLiteral("duration"), 0.1, maxSeconds, &parsed.durationMs);
}

bool OptionsParser::readFrame()
{
    EcuFrame frame;
    const bool fieldsSet = parser.isSet(QStringLiteral("speed")) || parser.isSet(QStringLiteral("rpm"))
                           || parser.isSet(QStringLiteral("coolant-raw")) || parser.isSet(QStringLiteral("cold"))
                           || parser.isSet(QStringLiteral("warm")) || parser.isSet(QStringLiteral("pn"));
    if (fieldsSet && parser.isSet(QStringLiteral("frame")))
        return fail(QStringLiteral("--frame cannot be combined with --speed, --rpm, --coolant-raw, --cold, --warm or --pn"));
    if (!readInteger(QStringLiteral("speed"), 0, 0xFF, &frame.speedKph)
        || !readInteger(QStringLiteral("rpm"), 0, 0xFF * BridgeProtocol::rpmPerEngineSpeedStep, &frame.rpm)
        || !readInteger(QStringLiteral("coolant-raw"), 0, 0xFF, &frame.coolantRaw))
        return false;
    frame.cold = parser.isSet(QStringLiteral("cold"));
    frame.warm = parser.isSet(QStringLiteral("warm"));
    frame.parkNeutral = parser.isSet(QStringLiteral("pn"));
    parsed.frameBytes = frame.bytes();
    parsed.fixedFrame = fieldsSet || parser.isSet(QStringLiteral("frame"));
    if (!parser.isSet(QStringLiteral("frame")))
        return true;

    const QString text = parser.value(QStringLiteral("frame"));
    const QStringList tokens = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (tokens.isEmpty() || tokens.size() > maxFrameBytes)
        return fail(QStringLiteral("--frame needs 1 to %1 hex bytes").arg(maxFrameBytes));
    parsed.frameBytes.clear();
    for (const QString &token : tokens) {
        bool ok = false;
        const uint byte = token.toUInt(&ok, 16);
        if (!ok || token.size() > 2 || token.startsWith(QLatin1Char('+')))
            return fail(QStringLiteral("--frame: \"%1\" is not a hex byte (00 to FF)").arg(token));
        parsed.frameBytes.append(static_cast<char>(byte));
    }
    return true;
}

bool OptionsParser::readScenarioShape()
{
    return readSeconds(QStringLiteral("active"), 0.1, maxSeconds, &parsed.activeMs)
           && readSeconds(QStringLiteral("gap"), 0.1, maxSeconds, &parsed.gapMs)
           && readInteger(QStringLiteral("parts"), 2, maxParts, &parsed.parts) && readCuts()
           && readInteger(QStringLiteral("lose"), 1, maxLoseEvery, &parsed.loseEvery)
           && readSeconds(QStringLiteral("every"), 0.5, maxSeconds, &parsed.everyMs);
}

bool OptionsParser::readCuts()
{
    if (!parser.isSet(QStringLiteral("cuts")))
        return true;
    const QString text = parser.value(QStringLiteral("cuts"));
    int previous = 0;
    for (const QString &piece : text.split(QLatin1Char(','))) {
        bool ok = false;
        const int cut = piece.toInt(&ok);
        if (!ok || cut <= previous || parsed.cuts.size() >= maxParts - 1)
            return fail(QStringLiteral("--cuts needs up to %1 rising byte offsets above 0, like 2,20, not \"%2\"")
                            .arg(maxParts - 1)
                            .arg(text));
        parsed.cuts << cut;
        previous = cut;
    }
    return true;
}

bool OptionsParser::readFiles()
{
    parsed.recordPath = parser.value(QStringLiteral("record"));
    parsed.capturePath = parser.value(QStringLiteral("capture"));
    const bool replay = parsed.scenario == SimOptions::Scenario::Replay;
    if (replay && parsed.capturePath.isEmpty())
        return fail(QStringLiteral("the replay scenario needs --capture FILE"));
    if (!replay && !parsed.capturePath.isEmpty())
        return fail(QStringLiteral("--capture is only for the replay scenario"));
    if (replay && !QFileInfo(parsed.capturePath).isReadable())
        return fail(QStringLiteral("cannot read the capture \"%1\"").arg(parsed.capturePath));
    return true;
}

bool OptionsParser::readNumber(const QString &name, double minimum, double maximum, double *value, bool whole)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const double number = parser.value(name).toDouble(&ok);
    if (!ok || number < minimum || number > maximum || (whole && number != qRound(number)))
        return fail(QStringLiteral("--%1 needs a %2 from %3 to %4, not \"%5\"")
                        .arg(name, whole ? QStringLiteral("whole number") : QStringLiteral("number"))
                        .arg(minimum)
                        .arg(maximum)
                        .arg(parser.value(name)));
    *value = number;
    return true;
}

bool OptionsParser::readInteger(const QString &name, int minimum, int maximum, int *value)
{
    double number = *value;
    if (!readNumber(name, minimum, maximum, &number, true))
        return false;
    *value = qRound(number);
    return true;
}

bool OptionsParser::readSeconds(const QString &name, double minimum, double maximum, int *milliseconds)
{
    double seconds = *milliseconds / 1000.0;
    if (!readNumber(name, minimum, maximum, &seconds))
        return false;
    *milliseconds = qRound(seconds * 1000.0);
    return true;
}

bool OptionsParser::fail(const QString &message)
{
    error = message;
    return false;
}
