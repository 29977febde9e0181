#ifndef OPTIONSPARSER_H
#define OPTIONSPARSER_H

#include "simoptions.h"

#include <QCommandLineParser>
#include <QStringList>

// Turns the simulator's command line into SimOptions, with a readable error for each mistake.
class OptionsParser
{
public:
    enum class Outcome { Run, Help, Error };

    OptionsParser();

    Outcome parse(const QStringList &arguments);
    const SimOptions &options() const { return parsed; }
    const QString &errorText() const { return error; }
    QString helpText() const;

    static QString scenarioName(SimOptions::Scenario scenario);

private:
    bool readScenario();
    bool readAddresses();
    bool readTiming();
    bool readFrame();
    bool readScenarioShape();
    bool readCuts();
    bool readFiles();
    bool readNumber(const QString &name, double minimum, double maximum, double *value, bool whole = false);
    bool readInteger(const QString &name, int minimum, int maximum, int *value);
    bool readSeconds(const QString &name, double minimum, double maximum, int *milliseconds);
    bool fail(const QString &message);

    QCommandLineParser parser;
    SimOptions parsed;
    QString error;
};

#endif // OPTIONSPARSER_H
