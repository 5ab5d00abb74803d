// The panel on the machine's real serial ports.
#include "app/panel_program.h"

int main(int argc, char** argv) {
    qelo::app::PanelApplication app(argc, argv);
    qelo::app::PanelProgram panel(qelo::platform::qt::defaultPortMap());
    panel.start();
    return app.run();
}
