#ifndef DRIVERS_H
#define DRIVERS_H

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class BackEnd;
struct AddressQuery;
class QTimer;
class QUdpSocket;

// The bridge's wire protocol and the link's timing, in one place.
namespace BridgeProtocol {
constexpr char bridgeAddress[] = "192.168.4.1";
constexpr char bindAddress[] = "0.0.0.0";
constexpr quint16 port = 35000;
// A substring test: 192.168.4.10 and 192.168.4.100 to .109 pass.
constexpr char hostAddressPattern[] = "192.168.4.10";
constexpr int pollIntervalMs = 1200;
// The link counts as lost once more ticks than this pass without a datagram.
constexpr int maxSilentTicks = 4;
// Demonstration mode runs while the user has asked for it more often than this.
constexpr int maxDemandsBeforeDemo = 3;
constexpr char probe[] = "0";
constexpr char identificationReply[] = "&TE2=1";
constexpr char lineEnd[] = "\r\n";
constexpr char serialMarker[] = "SN:";
constexpr char ecuMarker[] = "ECU:";
constexpr int minSerialParts = 4;
// Where an ECU frame carries what the dashboard shows.
constexpr int engineSpeedByte = 4;
constexpr int coolantByte = 6;
constexpr int vehicleSpeedByte = 8;
constexpr int statusByte11 = 11;
constexpr int statusByte12 = 12;
constexpr int rpmPerEngineSpeedStep = 25;
constexpr int coldBit = 0x01;
constexpr int warmBit = 0x02;
constexpr int parkNeutralBit = 0x08;
// The most text kept for a frame whose end has not arrived yet.
constexpr int receiveBufferLimit = 4096;
// What the bridge sends: a frame ends with its second status byte, each byte in one or two
// hexadecimal digits.
constexpr int wholeFrameBytes = statusByte12 + 1;
constexpr int maxDigitsPerByte = 2;
// Frames in a row that only the next marker ended before the bridge counts as one that does not
// end its lines. Wi-Fi often loses two datagrams in a row, so two lost tails in a row are no sign
// yet; a bridge that really leaves its lines open loses only its first two frames to the wait.
constexpr int openLinesAfterFrames = 3;
} // namespace BridgeProtocol

// Drivers' private record of its conversation with the bridge.
struct LinkState
{
    bool onBridgeNetwork = false;
    QString snLine;
    quint8 demoDemand = 0;
    QString receiveBuffer;
    qint32 silentTicks = 0;
    QString snField2;
    QString snField1;
    QString snField3;
    QString snField4;
    QByteArray frameBytes;
    // Frames in a row that only the next marker ended, counted up to openLinesAfterFrames: until
    // then the bridge is taken to end its lines, and a frame without a line end lost its tail.
    int framesEndedByMarker = 0;
};

class Drivers : public QObject
{
    Q_OBJECT

public:
    Drivers(BackEnd *backEnd, QObject *parent = nullptr);
    ~Drivers() override;

    static double coolantCurve(int raw);

private slots:
    void createSocket();
    void readyRead();
    void createTimer();
    void updateTime();

private:
    friend class BackEnd;
    friend class TestAccess;

    // Where the frames that one datagram ended lie in the receive buffer; -1 for none.
    struct EndedFrames
    {
        int newest = -1;
        int newestEnd = -1;
        bool lineEnded = false;
        // The frame still awaiting its end.
        int open = -1;
    };

    void receiveDatagram(const QByteArray &datagram);
    void decodeNewestFrame(int datagramStart);
    EndedFrames endFrames(int datagramStart);
    void noteFrameEnd(bool lineEnded);
    void forgetLineHabit();
    bool bridgeLeavesLinesOpen() const;
    void showFrame(const QString &text, bool pieced, bool lineEnded);
    void capReceiveBuffer();
    void sendToBridge(const QString &text);
    void askForBridgeAddress();
    void bridgeAddressAnswered(bool seen);
    void parseSerialLine();
    void decodeEcuFrame(const QString &text);
    void runDemoTick();
    void runPollTick();
    void countSilentTick();
    bool inDemoMode() const;

    std::unique_ptr<LinkState> linkState;
    std::shared_ptr<AddressQuery> addressQuery;
    BackEnd *backEnd;
    QUdpSocket *socket = nullptr;
    QTimer *timer = nullptr;
    qint32 demoSpeed = 0;
    qint32 demoRpm = 0;
};

#endif // DRIVERS_H
