// fuzz_command.cpp - the command text through ExecOrv5 up to the port.
//
// The scratch folder is the working directory and holds files a command
// may name (a data file with its field-definition file, a program file);
// the simulated port refuses to open, so a session that gets that far ends
// with 75.  Invariants: a documented result code; nothing left open; the
// files unchanged; the name buffer untouched or a NUL-terminated name.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "platform/sim/sim.h"

using namespace fuzz;

namespace {

const char DATA[] = "ABCDEXYZ\r\n12345678\r\n";
const char FLD[] = "FIELDS 5 3\r\n";
const char PROG[] = "0123456789\r\n";

void prepare(const std::string &dir)
{
    static bool done = false;
    if (done)
        return;
    done = true;
    if (::chdir(dir.c_str()) != 0)
        broken("chdir to the scratch folder");
    write_file(dir + "DATA.TXT", DATA);
    write_file(dir + "DATA.FLD", FLD);
    write_file(dir + "PROG.PD3", PROG);
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string &dir = scratch_dir();
    prepare(dir);
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.c_str();   // the text ends at its first NUL, as a C caller's would
    const int fds_before = open_descriptors();

    sim::reset();
    sim::faults().open_fails = true;
    char name[ORV5_NAME_BUF_SIZE + 8];
    std::memset(name, 0x5A, sizeof name);
    const int rc = ExecOrv5(nullptr, text.c_str(), name);

    require(documented_code(rc) && rc != ORV5_OK, "result", std::to_string(rc));
    require(sim::libraries_loaded() == 0 && !sim::timer_exists(), "resources left");
    require(sim::fs_counts().open_files == 0, "file left open");
    require(open_descriptors() == fds_before, "descriptor left open");
    for (size_t i = ORV5_NAME_BUF_SIZE; i < sizeof name; ++i)
        require(name[i] == 0x5A, "name buffer overrun");
    // Untouched (an early failure) or a terminated name.
    require(name[0] == 0x5A || std::memchr(name, 0, ORV5_NAME_BUF_SIZE) != nullptr,
            "name buffer not terminated");

    std::string c;
    require(read_file(dir + "DATA.TXT", &c) && c == DATA, "DATA.TXT changed");
    require(read_file(dir + "DATA.FLD", &c) && c == FLD, "DATA.FLD changed");
    require(read_file(dir + "PROG.PD3", &c) && c == PROG, "PROG.PD3 changed");
    for (const std::string &f : list_dir(dir))
        if (f != "DATA.TXT" && f != "DATA.FLD" && f != "PROG.PD3")
            broken("file created by a command", f);
    return 0;
}
