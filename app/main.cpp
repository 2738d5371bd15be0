#include "app/Application.h"
#include "app/MainUnit.h"

int main(int argc, char** argv) {
    IgnoreClosedOutput();
    VelmoraApplication app(argc, argv);
    InitApplicationTitle();
    StopEngineOnSignals();
    TMainForm form;
    form.show();
    return app.exec();
}
