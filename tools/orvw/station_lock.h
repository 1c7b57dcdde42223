// station_lock.h - one station per port, one station per staging folder.
//
// A station holds two locks for as long as it runs:
// - its port's: on POSIX an flock on "orvw-port-<device>.lock" in the lock
//   folder ($ORV5_LOCK_DIR, else /run/lock when writable, else the temp
//   folder), taken for the device as named and, when that is a link, for
//   the device it leads to; on Windows a named mutex "orvw-port-COMn";
// - its staging folder's: an flock on DIR/.incoming-NAME/.lock (POSIX), or
//   that file opened without sharing (Windows).
// The lock files stay behind when the station ends: the lock is the flock
// on them, never their presence, so a station killed by a power cut
// leaves nothing that blocks the next one.
#pragma once

#include <cstdint>
#include <string>

enum class LockResult { Taken, Held, Failed };

class StationLock {
public:
    StationLock() = default;
    ~StationLock() { release(); }
    StationLock(const StationLock &) = delete;
    StationLock &operator=(const StationLock &) = delete;

    // Takes the lock on the port of the command-text options (-Pn) or the
    // device --device named; where says which lock file or mutex.
    LockResult take_port(const std::string &options, std::string &where, std::string &why);
    // Takes the lock on a staging folder, which exists.
    LockResult take_staging(const std::string &staging, std::string &where, std::string &why);
    void release();

private:
    LockResult take_file(const std::string &path, std::string &why);

    static constexpr int MAX_HANDLES = 2;
    intptr_t handles_[MAX_HANDLES] = {-1, -1};
    int count_ = 0;
};

// The port number of command-text options: the last -Pn, else 1.
int port_number(const std::string &options);

// The device a session with these options opens on POSIX: $ORV5_DEVICE
// (what --device sets), $ORV5_COMn, /dev/ttyS<n-1>; on Windows a network
// address in ORV5_DEVICE or ORV5_COMn, else "COMn".
std::string port_device(const std::string &options);

// True for a network port's address ("rfc2217://...", "tcp://...", any
// case); raw_tcp: the tcp:// kind, whose line settings are the server's.
bool is_network_device(const std::string &device, bool *raw_tcp = nullptr);

// The station's name when --station does not give one: the device's base
// name (POSIX) or "COMn" (Windows), made safe with station_name_safe().
std::string default_station_name(const std::string &options);

// A station name goes into file names: letters, digits, '_', '-' and '.',
// not first, at most MAX_STATION_NAME characters.
constexpr size_t MAX_STATION_NAME = 32;
bool station_name_valid(const std::string &name);
// name with every other character as '_', cut to size; "station" when
// nothing is left.
std::string station_name_safe(const std::string &name);
