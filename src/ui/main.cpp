// pelor-station: the operator window.
#include "station_app.h"

int main(int argc, char** argv) {
    CStationApp app(argc, argv);
    return app.InitInstance();
}
