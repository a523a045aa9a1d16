#include "samplestream.h"

#include "support/packets.h"

#include <QByteArrayList>

namespace {

QByteArray fixed(double value, int decimals)
{
    return QByteArray::number(value, 'f', decimals);
}

QByteArray whole(double value)
{
    return QByteArray::number(static_cast<qlonglong>(value));
}

// A reading that wanders over a band and back, one step per packet, so
// neighbouring packets differ the way a unit's do.
double wander(int n, double low, double high, int period)
{
    const int phase = n % (2 * period);
    const int step = phase < period ? phase : 2 * period - phase;
    return low + (high - low) * step / period;
}

QByteArray twoDigits(int value)
{
    return QByteArray::number(value).rightJustified(2, '0');
}

} // namespace

QByteArray SampleStream::dataPacket(int n)
{
    const int seconds = 6 * 3600 + n;
    const QByteArray time = twoDigits(seconds / 3600 % 24) + ':' + twoDigits(seconds / 60 % 60) + ':'
                            + twoDigits(seconds % 60);
    const double depth = 8423.0 + n * 0.1;
    const double gas = wander(n, 600.0, 1900.0, 80);
    const double rop = wander(n, 25.0, 140.0, 37);
    // An alarm now and then, as the unit's scenario has them.
    const QByteArray alarm = (n / 20) % 4 == 3 ? QByteArrayLiteral("1203") : QByteArrayLiteral("0");

    const QByteArrayList fields{
        QByteArrayLiteral("0001"),                  // 1 unit name
        QByteArrayLiteral("08/14/2024"),            // 2 date
        time,                                       // 3 time
        fixed(depth, 1),                            // 4 hole depth
        fixed(gas, 1),                              // 5 gas units
        fixed(wander(n, 20.4, 20.9, 11), 1),        // 6 % O2
        fixed(wander(n, 0.02, 0.09, 13), 2),        // 7 % CO2
        QByteArrayLiteral("16"),                    // 8 attenuation
        fixed(wander(n, 71.0, 78.0, 17), 1),        // 9 temp
        fixed(60.0 / rop, 2),                       // 10 ROP min/ft
        fixed(rop, 1),                              // 11 ROP ft/hr
        fixed(wander(n, 1.8, 2.3, 19), 1),          // 12 sample LPH
        fixed(wander(n, 10.5, 12.5, 23), 1),        // 13 sample vac
        fixed(wander(n, 13.2, 13.9, 29), 2),        // 14 volts DC
        fixed(wander(n, 11.9, 12.3, 31), 2),        // 15 pri volts
        fixed(wander(n, 11.8, 12.2, 37), 2),        // 16 sec volts
        QByteArrayLiteral("7"),                     // 17 CG ID
        fixed(wander(n, 4.95, 5.05, 41), 2),        // 18 CG volts
        fixed(wander(n, 0.405, 0.460, 43), 3),      // 19 H2S volts
        fixed(wander(n, 0.0, 5.0, 43), 1),          // 20 H2S ppm
        alarm,                                      // 21 error number
        whole(wander(n, 55.0, 70.0, 47)),           // 22 motor %
        whole(wander(n, -80.0, -60.0, 53)),         // 23 RSSI
        fixed(wander(n, 118.0, 122.0, 59), 1),      // 24 AC volts
        fixed(wander(n, 59.9, 60.1, 61), 2),        // 25 AC freq
        fixed(wander(n, 2.8, 3.6, 67), 2),          // 26 amps
        fixed(wander(n, 40.0, 43.0, 71), 1),        // 27 HRM temp
        fixed(wander(n, 12.0, 13.0, 73), 1),        // 28 CG pressure
        QByteArray::number(n),                      // 29 packet number
        whole(gas * 0.82),                          // 30 methane
        whole(gas * 0.09),                          // 31 ethane
        whole(gas * 0.05),                          // 32 propane
        whole(gas * 0.015),                         // 33 iso butane
        whole(gas * 0.012),                         // 34 n butane
        fixed(wander(n, 0.8, 1.2, 79), 2),          // 35 exhaust prs
        fixed(wander(n, 49.0, 51.0, 83), 1),        // 36 column temp
        fixed(depth - 36.5, 1),                     // 37 lag depth
        fixed(1523.0 + n / 36000.0, 1),             // 38 HOBBS
        whole(gas * 0.005),                         // 39 iso pentane
        whole(gas * 0.004),                         // 40 n pentane
    };
    return support::withChecksum('*' + fields.join(',') + ',') + QByteArrayLiteral("\r\n");
}

QByteArray SampleStream::witsRecord(int n)
{
    const double depth = 8423.0 + n * 0.1;
    const int seconds = 6 * 3600 + n;
    const QByteArray time = twoDigits(seconds / 3600 % 24) + twoDigits(seconds / 60 % 60) + twoDigits(seconds % 60);
    const QByteArrayList pieces{
        QByteArrayLiteral("^"),
        QByteArrayLiteral("01"),
        QByteArrayLiteral("0001"),
        QByteArrayLiteral("240814"),
        time,
        "0108" + fixed(depth, 1),                   // bit depth
        "0110" + fixed(depth, 1),                   // hole depth
        "0112" + fixed(wander(n, 5.0, 95.0, 40), 1), // block position
        "0113" + fixed(wander(n, 25.0, 140.0, 37), 1), // rate of penetration
        "0114" + fixed(wander(n, 180.0, 240.0, 29), 1), // hookload
        "0116" + fixed(wander(n, 12.0, 28.0, 31), 1), // weight on bit
        "0120" + fixed(wander(n, 90.0, 140.0, 23), 0), // rotary speed
        "0121" + fixed(wander(n, 2800.0, 3300.0, 19), 0), // standpipe pressure
        "0123" + fixed(wander(n, 540.0, 620.0, 17), 1), // pump rate
        "0130" + fixed(wander(n, 9.8, 10.4, 13), 2), // mud weight in
    };
    return pieces.join(',') + QByteArrayLiteral("\r\n");
}

QByteArray SampleStream::statusMessages()
{
    // Each text once: the parser takes every copy of a message at its first
    // sight, so repeating one would leave fewer than five for the passes.
    return QByteArrayLiteral("[OUTPUT ONLY]\r\n[UPTIME 99.5%]\r\n[TWO WAY]\r\n[SERVICE DUE 120H]\r\n[UPTIME 98.7%]\r\n");
}
