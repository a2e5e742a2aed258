// The file server's clock, read on the layer's connection.
#include "nwapi/nwapi.h"

#include "nwclient/nwclient.h"

namespace nwapi {

namespace {

bool isLeapYear(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int32_t daysInMonth(int32_t y, int32_t m) {
    static const int32_t days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : days[m - 1];
}

// Days from 0001-01-01 to the given date (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;  // days since 1970-01-01
}

}  // namespace

void ReadServerClock(ServerClock& record) {
    record = ServerClock{};
    uint8_t reply[7] = {};
    // An unread clock is no error worth a box: the record stays zero.
    if (nw::NWGetFileServerDateAndTime(layer().connection, reply) != 0) return;
    record.year = int32_t(reply[0]) + 1900;
    record.month = reply[1];
    record.day = reply[2];
    record.hour = reply[3];
    record.minute = reply[4];
    record.second = reply[5];
    record.weekday = reply[6];
}

void GetServerDateTime(double& value) {
    ServerClock c;
    ReadServerClock(c);
    value = 0;
    if (c.year < 1 || c.year > 9999 || c.month < 1 || c.month > 12 || c.day < 1 ||
        c.day > daysInMonth(c.year, c.month))
        return;
    if (c.hour > 23 || c.minute > 59 || c.second > 59) return;
    // 1899-12-30 is day 0; it lies 25569 days before 1970-01-01.
    const int64_t days = daysFromCivil(c.year, c.month, c.day) + 25569;
    value = double(days) + double(c.hour * 3600 + c.minute * 60 + c.second) / 86400.0;
}

}  // namespace nwapi
