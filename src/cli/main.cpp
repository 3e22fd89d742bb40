#include "cli_app.h"

int main(int argc, char** argv) {
    return PELOR_CliMain(argc, argv);
}
