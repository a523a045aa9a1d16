#include "unitsim/simoptions.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>

namespace {

struct OptionEntry
{
    const char *name;
    const char *valueName;  // nullptr for a switch
    const char *help;
};

// The order here is the order of --help.
const OptionEntry OptionTable[] = {
    {"host", "address", "Address to listen on (default 127.0.0.1; \"localhost\" and \"any\" are understood)."},
    {"port", "port", "TCP port to listen on, 0 for a free one (default 2400). The first line on stderr names it."},
    {"units", "N", "Play a fleet of N units (1 to 9999) named 0001, 0002, ..., on ports from --port on (each on a free port with --port 0). Each unit drills on from the start with its own seed, gas and alarms; a viewer joins its stream where it stands."},
    {"write-lookup", "file", "Write the viewer's lookup table (RDVlookup.TXT) with a row for every unit: name, host, port. The viewer reads only a serial's last three digits, so at most 999 units."},
    {"user", "name", "User name that unlocks two-way operation, 3 to 10 characters (default operator)."},
    {"password", "word", "Password that unlocks two-way operation, 3 to 10 characters (default rig2400). Never printed."},
    {"seed", "N", "Seed for every random choice; each connection then gets the same run. Without it each connection draws its own seed, shown when it connects."},
    {"rate", "per-second", "Data packets per second, fractions allowed, up to 1000 (default 1)."},
    {"wits-period", "seconds", "Seconds between WITS records, 0 for none (default 5)."},
    {"uptime-period", "seconds", "Seconds between \"[UPTIME nn.n%]\" messages, 0 for none (default 30)."},
    {"name", "text", "Unit name sent as field 1 (default 0001)."},
    {"no-lf", nullptr, "End every element with CR alone instead of CR LF."},
    {"start-time", "yyyy-MM-ddThh:mm:ss", "Packet clock starts here and moves one packet interval per packet, instead of following the wall clock. With --seed the stream is then the same byte for byte."},
    {"alarm", "number", "Send this error number in every packet instead of the alarm scenario (e.g. 5, 1203, 27; 0 for none)."},
    {"gas", "value", "Send this gas-units value, as written, in every packet instead of the drifting gas."},
    {"bad-checksum", "N", "Fault: corrupt the checksum of every Nth packet."},
    {"split", nullptr, "Fault: cut every write at 1 to 3 random points and send the pieces one by one."},
    {"split-gap", "ms", "Milliseconds between the pieces of a split write (default 150, longer than the viewer's 100 ms poll; shortened to a quarter of the packet interval when that is less)."},
    {"batch", "K", "Fault: gather K packets, and whatever comes between them, into one write."},
    {"wits-glued", nullptr, "Fault: hold each WITS record back and send it in front of the next packet in the same write."},
    {"junk", "N", "Fault: send N junk bytes (1 to 256; every byte value 0 to 255 comes up) in front of every element."},
    {"burst", "seconds", "Fault: every so many seconds send a backlog of complete packets, over --burst-size characters, in one write."},
    {"burst-size", "N", "Characters a burst must exceed (default 6000; the viewer drops its buffer past 5000)."},
    {"long-packet", "N", "Fault: every Nth packet carries 51 fields (with a correct checksum)."},
    {"no-comma", "N", "Fault: every Nth packet is \"*\", the unit name and CR: no comma at all."},
    {"non-numeric", "N", "Fault: every Nth packet carries text in the numeric fields 4, 5, 10, 11, 21, 29 and 37 (with a correct checksum)."},
    {"wits-stop", "seconds", "Fault: stop the WITS records this many seconds after a viewer connects."},
    {"silent-after", "seconds", "Fault: send nothing more this many seconds after a viewer connects, but keep the connection open and keep reading."},
    {"close-after", "N", "Fault: close the connection after the Nth packet."},
    {"reset-after", "N", "Fault: reset the connection (TCP RST) after the Nth packet."},
    {"accept-delay", "seconds", "Fault: take each new connection up only this many seconds after it arrived."},
    {"drop-every", "seconds", "Fault: every so many seconds each unit closes its connections; the units of a fleet take their turns spread over the interval."},
    {"sent-log", "file", "Write a line for every data packet handed to a viewer intact: unit,packet number,milliseconds since 1970 (written every second and at the end)."},
    {"replay", "file", "Send the bytes of this file (recorded traffic) instead of the generated stream."},
    {"replay-rate", "bytes", "Bytes per second for --replay (default 100)."},
    {"replay-loop", nullptr, "Start the file again when it ends."},
};

// Options that shape the generated stream and mean nothing to a replay.
const char *const GeneratorOnly[] = {
    "rate", "wits-period", "uptime-period", "name", "start-time", "alarm", "gas",
    "bad-checksum", "batch", "wits-glued", "junk", "burst", "burst-size", "long-packet",
    "no-comma", "non-numeric", "wits-stop", "close-after", "reset-after", "sent-log",
};

const QString Description = QStringLiteral(
    "Plays a gas-detection field unit (or the relay in front of one) on TCP, for\n"
    "training, for checking a relay and for the viewer's end-to-end tests.\n"
    "Every viewer that connects gets its own stream: \"[OUTPUT ONLY]\", data packets,\n"
    "WITS records and uptime messages. What viewers send (keep-alives, key messages,\n"
    "typed keys) is read and answered. One line per event goes to stderr, none per\n"
    "packet; the first line of a single unit is \"unit-sim listening on <host>:<port>\".\n"
    "Bad options or values exit with code 2; a port that cannot be opened or a file\n"
    "that cannot be written with 1; SIGTERM or SIGINT closes every connection and\n"
    "exits with 0.");

QString optionName(const char *name)
{
    return QString::fromLatin1(name);
}

// The unit number the viewer's lookup gives a row whose first column is
// `name`: the number its leading digits make.
int rowNumber(const QByteArray &name)
{
    int value = 0;
    for (const char c : name) {
        if (c < '0' || c > '9' || value > 100000)
            break;
        value = value * 10 + (c - '0');
    }
    return value;
}

bool isSingleByteText(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > 255 || c.unicode() == 0)
            return false;
    }
    return true;
}

} // namespace

QByteArray SimOptions::lineEnd() const
{
    return lineFeed ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\r");
}

SimOptions::Outcome SimOptions::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(Description);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption helpOption = parser.addHelpOption();
    for (const OptionEntry &entry : OptionTable) {
        if (entry.valueName)
            parser.addOption(QCommandLineOption(optionName(entry.name), QString::fromLatin1(entry.help),
                                                QString::fromLatin1(entry.valueName)));
        else
            parser.addOption(QCommandLineOption(optionName(entry.name), QString::fromLatin1(entry.help)));
    }

    Outcome outcome;
    auto refuse = [&outcome](const QString &why) {
        outcome.status = Outcome::Status::Error;
        outcome.text = why;
        return outcome;
    };

    if (!parser.parse(arguments))
        return refuse(parser.errorText());
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"))) {
        outcome.status = Outcome::Status::Help;
        outcome.text = parser.helpText();
        return outcome;
    }
    if (!parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst()));

    SimOptions &o = outcome.options;
    QString error;
    auto set = [&parser](const char *name) { return parser.isSet(optionName(name)); };
    auto value = [&parser](const char *name) { return parser.value(optionName(name)); };
    auto fail = [&error](const char *name, const QString &text, const QString &wanted) {
        if (error.isEmpty())
            error = QStringLiteral("--%1: '%2' is not %3").arg(optionName(name), text, wanted);
    };
    // A real number in [low, high]; `above` makes the low end exclusive.
    auto real = [&](const char *name, double low, double high, bool above, double &target) {
        if (!set(name))
            return;
        bool ok = false;
        const double v = value(name).toDouble(&ok);
        if (ok && std::isfinite(v) && (above ? v > low : v >= low) && v <= high)
            target = v;
        else
            fail(name, value(name),
                 QStringLiteral("a number %1 %2 and at most %3").arg(above ? QStringLiteral("above") : QStringLiteral("of at least"))
                     .arg(low).arg(high));
    };
    auto whole = [&](const char *name, int low, int high, int &target) {
        if (!set(name))
            return;
        bool ok = false;
        const int v = value(name).toInt(&ok);
        if (ok && v >= low && v <= high)
            target = v;
        else
            fail(name, value(name), QStringLiteral("a whole number from %1 to %2").arg(low).arg(high));
    };
    // A short single-byte text that cannot break the packet's framing.
    auto text = [&](const char *name, int minLength, int maxLength, bool numeric, QByteArray &target) {
        if (!set(name))
            return;
        const QString v = value(name);
        bool ok = v.size() >= minLength && v.size() <= maxLength && isSingleByteText(v)
                  && !v.contains(QLatin1Char(',')) && !v.contains(QLatin1Char('\r'))
                  && !v.contains(QLatin1Char('\n'));
        if (ok && numeric) {
            bool isNumber = false;
            const double n = v.toDouble(&isNumber);
            ok = isNumber && std::isfinite(n);
        }
        if (ok)
            target = v.toLatin1();
        else
            fail(name, v,
                 numeric ? QStringLiteral("a number")
                         : QStringLiteral("%1 to %2 single-byte characters without comma, CR or LF").arg(minLength).arg(maxLength));
    };

    if (set("host")) {
        const QString h = value("host").trimmed();
        if (h.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0)
            o.host = QHostAddress(QHostAddress::LocalHost);
        else if (h.compare(QStringLiteral("any"), Qt::CaseInsensitive) == 0)
            o.host = QHostAddress(QHostAddress::AnyIPv4);
        else if (!o.host.setAddress(h))
            fail("host", value("host"), QStringLiteral("an IP address"));
    }
    int port = o.port;
    whole("port", 0, 65535, port);
    o.port = static_cast<quint16>(port);
    whole("units", 1, 9999, o.units);
    text("user", 3, 10, false, o.user);
    text("password", 3, 10, false, o.password);
    if (set("seed")) {
        bool ok = false;
        o.seed = value("seed").toULongLong(&ok);
        o.seeded = ok;
        if (!ok)
            fail("seed", value("seed"), QStringLiteral("a whole number from 0 to 18446744073709551615"));
    }
    real("rate", 0.0, 1000.0, true, o.rate);
    real("wits-period", 0.0, 86400.0, false, o.witsPeriod);
    real("uptime-period", 0.0, 86400.0, false, o.uptimePeriod);
    text("name", 1, 40, false, o.name);
    o.lineFeed = !set("no-lf");
    if (set("start-time")) {
        o.startTime = QDateTime::fromString(value("start-time"), Qt::ISODate);
        if (!o.startTime.isValid())
            fail("start-time", value("start-time"), QStringLiteral("a date and time like 2024-03-01T06:00:00"));
    }
    text("alarm", 1, 20, true, o.alarm);
    text("gas", 1, 20, true, o.gas);

    whole("bad-checksum", 1, 1000000, o.badChecksumEvery);
    o.split = set("split");
    whole("split-gap", 1, 10000, o.splitGapMs);
    whole("batch", 1, 1000, o.batch);
    o.witsGlued = set("wits-glued");
    whole("junk", 1, 256, o.junkBytes);
    real("burst", 0.0, 86400.0, true, o.burstEvery);
    whole("burst-size", 1, 1000000, o.burstSize);
    whole("long-packet", 1, 1000000, o.longPacketEvery);
    whole("no-comma", 1, 1000000, o.noCommaEvery);
    whole("non-numeric", 1, 1000000, o.nonNumericEvery);
    real("wits-stop", 0.0, 86400.0, false, o.witsStopAfter);
    real("silent-after", 0.0, 86400.0, false, o.silentAfter);
    whole("close-after", 1, 1000000000, o.closeAfter);
    whole("reset-after", 1, 1000000000, o.resetAfter);
    real("accept-delay", 0.0, 3600.0, false, o.acceptDelay);
    real("drop-every", 0.0, 86400.0, true, o.dropEvery);
    auto path = [&](const char *name, QString &target) {
        if (set(name) && (target = value(name)).isEmpty())
            fail(name, target, QStringLiteral("a file name"));
    };
    path("write-lookup", o.lookupFile);
    path("sent-log", o.sentLogFile);
    real("replay-rate", 0.0, 100000000.0, true, o.replayRate);
    o.replayLoop = set("replay-loop");

    if (!error.isEmpty())
        return refuse(error);

    auto needs = [&](const char *name, const char *needed) {
        if (error.isEmpty() && set(name) && !set(needed))
            error = QStringLiteral("--%1 needs --%2").arg(optionName(name), optionName(needed));
    };
    needs("split-gap", "split");
    needs("burst-size", "burst");
    needs("replay-rate", "replay");
    needs("replay-loop", "replay");
    if (error.isEmpty() && set("close-after") && set("reset-after"))
        error = QStringLiteral("--close-after and --reset-after cannot be used together");
    if (error.isEmpty() && o.fleet() && set("name"))
        error = QStringLiteral("--name does not apply to --units: the units are named 0001, 0002 and so on");
    if (error.isEmpty() && o.fleet() && o.port != 0 && o.port + o.units - 1 > 65535)
        error = QStringLiteral("--units: %1 units from port %2 on would pass port 65535").arg(o.units).arg(o.port);
    if (error.isEmpty() && set("write-lookup")) {
        if (o.unitCount() > 999)
            error = QStringLiteral("--write-lookup: at most 999 units; the viewer looks a serial number up by "
                                   "its last three digits, so unit 1000 and above could not be reached");
        else if (o.host.protocol() != QAbstractSocket::IPv4Protocol)
            error = QStringLiteral("--write-lookup: the viewer connects to an IPv4 address; listen on one with --host");
        else if (!o.fleet() && (rowNumber(o.name) < 1 || rowNumber(o.name) > 999))
            error = QStringLiteral("--write-lookup: the viewer could not find a unit named '%1'; "
                                   "its name must begin with a number from 1 to 999")
                        .arg(QString::fromLatin1(o.name));
    }
    if (error.isEmpty() && set("replay")) {
        for (const char *name : GeneratorOnly) {
            if (set(name)) {
                error = QStringLiteral("--%1 does not apply to --replay").arg(optionName(name));
                break;
            }
        }
    }
    if (error.isEmpty() && set("replay")) {
        o.replayFile = value("replay");
        QFile file(o.replayFile);
        if (!file.open(QIODevice::ReadOnly))
            error = QStringLiteral("--replay: cannot read '%1': %2").arg(o.replayFile, file.errorString());
        else if ((o.replayBytes = file.readAll()).isEmpty())
            error = QStringLiteral("--replay: '%1' is empty").arg(o.replayFile);
    }
    if (!error.isEmpty())
        return refuse(error);

    outcome.status = Outcome::Status::Run;
    return outcome;
}

int millis(double seconds)
{
    return static_cast<int>(std::clamp(std::llround(seconds * 1000.0), 0LL, 2000000000LL));
}
