// The one rule by which the program reads the time: the host's calendar
// time plus the offset plus one second, in local time.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// A broken-down local time, as the host's local-time conversion gives it.
using SimulatedTime = std::tm;

// Makes local_time convert to the zone `name` (an IANA name) from now on,
// instead of the host's own: from the system's zone data (the tz database;
// on Windows its own zones) where it has the zone, else from the few rules
// kolvan carries (zone_rules.h). False, with `error` saying why, for a zone
// it can't give or a file of the database that is no plain zone.
bool use_zone(const char* name, std::string& error);

// Where the conversion of the zone use_zone chose comes from: "the tz
// database", "Windows' zone \"Eastern Standard Time\"", "kolvan's own rules".
std::string zone_source();

// The local-time conversion of `seconds` since the epoch. False when
// the conversion can't represent it.
bool local_time(std::int64_t seconds, SimulatedTime& out);

// The same in the zone `zone`, from the same sources as use_zone's, leaving
// the zone local_time converts to as it is. False for a zone use_zone
// would refuse or a time it can't represent.
bool zone_time(const char* zone, std::int64_t seconds, SimulatedTime& out);

// The instant of a date and time of day in the zone local_time converts to;
// of an hour that occurs twice, the first. False when the zone skips it (the
// hour a change to summer time leaves out) or can't convert it.
bool seconds_of_local_time(int year, int month, int day, int hour, int minute, int second,
                           std::int64_t& seconds);

// local_time of a time a station can send: false too outside the years
// 2000 to 2099, which the frames carry as two digits (1998 would go out as
// 98, a year of this century).
bool time_sent(std::int64_t seconds, SimulatedTime& out);

// The host's calendar time plus `offset_sec` plus one second, in seconds
// since the epoch: the instant whose local time simulated_time gives.
std::int64_t simulated_seconds(int offset_sec);

// The same for a given host second.
std::int64_t simulated_seconds_at(std::int64_t host_second, int offset_sec);

// One second ahead of the simulated clock (host time + offset_sec), so the
// loop sees second 0 of a minute during the last second of the one before.
// False when the local-time conversion can't represent that time, or the
// stations can't (time_sent).
bool simulated_time(int offset_sec, SimulatedTime& out);
