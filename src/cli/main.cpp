#include "cli_app.h"
#include "jobs/station.h"

int main(int argc, char** argv) {
    // The station every command works on.
    Station station;
    station.MakeDefault();
    return PELOR_CliMain(argc, argv);
}
