// waga-service-host: the serial port component, the line pipeline and the weight service as
// the program wires them, without the window: COM2 in the working directory at 115200 bit/s,
// the service as dodatki.ini says. For scripts/bench-service until the program itself is measured.
#include <QCoreApplication>
#include <csignal>
#include <cstdio>

#include "AddOnSettings.h"
#include "LinePipeline.h"
#include "SerialPort.h"
#include "WeightService.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::signal(SIGTERM, [](int) { std::_Exit(0); });
    LinePipeline pipeline;
    pipeline.SetUnit(Win1250Text("kg"));
    pipeline.SetPort(pnCOM2);
    SerialPort port;
    port.SetComPort(pnCOM2);
    port.SetComPortSpeed(br115200);
    QObject::connect(&port, &SerialPort::dataReceived,
                     [&](const char* data, int size) { pipeline.Receive(data, size); });
    const AddOnLoadResult settings = LoadAddOnSettings();
    auto service = AttachWeightService(pipeline, {}, settings.settings.service);
    if (!port.OpenPort()) {
        std::fprintf(stderr, "waga-service-host: COM2 does not open\n");
        return 1;
    }
    pipeline.AnnouncePortState(PortState::Opened);
    QObject::connect(service.get(), &WeightService::stateChanged, [&] {
        std::fprintf(stderr, "waga-service-host: %s\n",
                     qPrintable(ServiceStateText(service->CurrentState(), service->Url(),
                                                 service->Cause())));
    });
    return app.exec();
}
