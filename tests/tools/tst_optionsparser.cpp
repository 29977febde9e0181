#include "optionsparser.h"

#include <QtTest>

class TestOptionsParser : public QObject
{
    Q_OBJECT

private slots:
    void rejectsWithAReadableReason_data();
    void rejectsWithAReadableReason();
    void acceptsAndApplies_data();
    void acceptsAndApplies();
    void helpNamesEveryScenario();
};

void TestOptionsParser::rejectsWithAReadableReason_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("reason");
    QTest::newRow("unknown option") << QStringList{"--bogus"} << "bogus";
    QTest::newRow("unknown scenario") << QStringList{"-s", "cruise"} << "choose one of drive, fixed";
    QTest::newRow("stray argument") << QStringList{"drive"} << "unexpected argument \"drive\"";
    QTest::newRow("rate of zero") << QStringList{"--rate", "0"} << "--rate needs a number from 0.1 to 100";
    QTest::newRow("rate not a number") << QStringList{"--rate", "fast"} << "not \"fast\"";
    QTest::newRow("negative latency") << QStringList{"--latency", "-5"} << "--latency needs a whole number";
    QTest::newRow("fractional port") << QStringList{"--port", "35000.5"} << "--port needs a whole number";
    QTest::newRow("speed beyond a byte") << QStringList{"--speed", "256"} << "--speed needs a whole number from 0 to 255";
    QTest::newRow("rpm beyond the frame") << QStringList{"--rpm", "6400"} << "from 0 to 6375";
    QTest::newRow("frame token too long") << QStringList{"--frame", "00 1FF"} << "\"1FF\" is not a hex byte";
    QTest::newRow("frame token not hex") << QStringList{"--frame", "zz"} << "\"zz\" is not a hex byte";
    QTest::newRow("frame with fields") << QStringList{"--frame", "00", "--speed", "3"} << "cannot be combined";
    QTest::newRow("empty frame") << QStringList{"--frame", " "} << "1 to 64 hex bytes";
    QTest::newRow("one part is no split") << QStringList{"--parts", "1"} << "--parts needs a whole number from 2 to 16";
    QTest::newRow("cuts falling") << QStringList{"--cuts", "20,2"} << "--cuts needs up to 15 rising byte offsets";
    QTest::newRow("cut at zero") << QStringList{"--cuts", "0"} << "not \"0\"";
    QTest::newRow("cut not a number") << QStringList{"--cuts", "2,x"} << "not \"2,x\"";
    QTest::newRow("peer is a name") << QStringList{"--peer", "bridge.local"} << "--peer needs an IPv4 address";
    QTest::newRow("peer port zero") << QStringList{"--peer", "192.168.4.105:0"} << "--peer needs";
    QTest::newRow("bind to IPv6") << QStringList{"--bind", "::1"} << "--bind needs an IPv4 address";
    QTest::newRow("replay without capture") << QStringList{"-s", "replay"} << "needs --capture";
    QTest::newRow("capture without replay") << QStringList{"--capture", "x"} << "only for the replay";
    QTest::newRow("capture unreadable") << QStringList{"-s", "replay", "--capture", "/nonexistent/x"}
                                        << "cannot read the capture";
}

void TestOptionsParser::rejectsWithAReadableReason()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, reason);
    OptionsParser parser;
    QCOMPARE(parser.parse(QStringList{"bridgesim"} + arguments), OptionsParser::Outcome::Error);
    QVERIFY2(parser.errorText().contains(reason), qPrintable(parser.errorText()));
}

void TestOptionsParser::acceptsAndApplies_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("summary");
    const QString defaults = QStringLiteral("drive 0.0.0.0:35000 peer - rate 5 delay 0+0 frame - 4000/8000 parts 2 every 10000 for 0");
    QTest::newRow("defaults") << QStringList{} << defaults;
    QTest::newRow("fixed frame from fields")
        << QStringList{"-s", "fixed", "--speed", "100", "--rpm", "2000", "--coolant-raw", "200", "--cold", "--pn"}
        << "fixed 0.0.0.0:35000 peer - rate 5 delay 0+0 frame 00000000500"
           "0c8006400000108 4000/8000 parts 2 every 10000 for 0";
    QTest::newRow("frame from hex, any case") << QStringList{"--frame", "0a  Ff 7"}
                                              << "drive 0.0.0.0:35000 peer - rate 5 delay 0+0 frame 0aff07 "
                                                 "4000/8000 parts 2 every 10000 for 0";
    QTest::newRow("addresses and timing")
        << QStringList{"--bind", "192.168.4.1", "--port", "0", "--peer", "192.168.4.105", "--rate", "20",
                       "--latency", "30", "--jitter", "15", "--duration", "2.5"}
        << "drive 192.168.4.1:0 peer 192.168.4.105:35000 rate 20 delay 30+15 frame - 4000/8000 parts 2 every "
           "10000 for 2500";
    QTest::newRow("split at offsets") << QStringList{"-s", "split", "--cuts", "2,20"}
                                      << "split 0.0.0.0:35000 peer - rate 5 delay 0+0 frame - 4000/8000 parts 2 every "
                                         "10000 for 0 cuts 2,20";
    QTest::newRow("peer with port, scenario shape")
        << QStringList{"--peer", "127.0.0.1:4000", "-s", "vanish", "--active", "0.5", "--gap", "6", "--parts",
                       "3", "--every", "1.5"}
        << "vanish 0.0.0.0:35000 peer 127.0.0.1:4000 rate 5 delay 0+0 frame - 500/6000 parts 3 every 1500 for 0";
}

void TestOptionsParser::acceptsAndApplies()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, summary);
    OptionsParser parser;
    QCOMPARE(parser.parse(QStringList{"bridgesim"} + arguments), OptionsParser::Outcome::Run);
    const SimOptions &o = parser.options();
    QStringList cuts;
    for (const int cut : o.cuts)
        cuts << QString::number(cut);
    const QString actual =
        QStringLiteral("%1 %2:%3 peer %4 rate %5 delay %6+%7 frame %8 %9/%10 parts %11 every %12 for %13%14")
            .arg(OptionsParser::scenarioName(o.scenario), o.bindAddress.toString())
            .arg(o.port)
            .arg(o.peerAddress.isNull() ? QStringLiteral("-")
                                        : o.peerAddress.toString() + QLatin1Char(':') + QString::number(o.peerPort))
            .arg(o.rateHz)
            .arg(o.latencyMs)
            .arg(o.jitterMs)
            .arg(o.fixedFrame ? QString::fromLatin1(o.frameBytes.toHex()) : QStringLiteral("-"))
            .arg(o.activeMs)
            .arg(o.gapMs)
            .arg(o.parts)
            .arg(o.everyMs)
            .arg(o.durationMs)
            .arg(cuts.isEmpty() ? QString() : QStringLiteral(" cuts ") + cuts.join(QLatin1Char(',')));
    QCOMPARE(actual, summary);
}

void TestOptionsParser::helpNamesEveryScenario()
{
    OptionsParser parser;
    QCOMPARE(parser.parse({"bridgesim", "--help"}), OptionsParser::Outcome::Help);
    const QString help = parser.helpText();
    for (const char *name : {"drive", "fixed", "silence", "vanish", "split", "malformed", "reident", "replay", "listen", "quiet"})
        QVERIFY2(help.contains(QStringLiteral("\n  %1 ").arg(QLatin1String(name))), name);
    QVERIFY(help.contains(QStringLiteral("<monotonic ms> <in|out> <hex bytes...>")));
}

QTEST_GUILESS_MAIN(TestOptionsParser)
#include "tst_optionsparser.moc"
