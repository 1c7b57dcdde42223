// store.h - moving received files from the station's staging folder into
// its folder under their time of arrival.
//
// The library writes a received file under a temporary "~RX" name and
// gives it its final name only once the terminal's last record has been
// acknowledged, so a staged file under a final name is complete, whatever
// became of the session afterwards (a lost closing EOT, a stop).  The move
// never replaces a file, and staging and DIR share a file system, so a file
// is either staged or stored, never half of each.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#if defined(_WIN32)
constexpr char PATH_SEP = '\\';
#else
constexpr char PATH_SEP = '/';
#endif

// The staging folder's lock file: never a received file (no 8.3 name).
constexpr char STAGING_LOCK_NAME[] = ".lock";

std::tm local_time(std::time_t t);
// "YYYYMMDD-HHMMSS" and "YYYY-MM-DDTHH:MM:SS" of t, local time.
std::string file_stamp(std::time_t t);
std::string iso_time(std::time_t t);

// The companion field-definition file of a received data file, "" for
// none (program files and a received .FLD file have none).
std::string companion_name(const std::string &name);

struct Stored {
    std::string name;        // the terminal's name of the file
    std::string file;        // stored data file, "" when not stored
    std::string companion;   // stored .FLD file, "" for none
    std::string error;       // why storing failed
};

// Moves the staged file name and its companion from staging into dir as
// "STAMP[-n][-TAG]-NAME"; tag "" for none.
Stored store_file(const std::string &staging, const std::string &dir, const std::string &name,
                  std::time_t arrival, const std::string &tag);

// What a staging folder holds.  complete: files under a final name, each
// data file before its own companion is considered, companions of a
// present data file left out (they go with it); partial: temporary files
// of a reception that did not finish.  The lock file and aside folders are
// in neither.
struct StagedFiles {
    std::vector<std::string> complete;
    std::vector<std::string> partial;
};
StagedFiles list_staged(const std::string &staging);

// Moves staging/name into staging/aside-STAMP/ (made when missing), never
// over a file; where is its new path.
bool move_aside(const std::string &staging, const std::string &name, std::time_t now,
                std::string &where, std::string &why);
