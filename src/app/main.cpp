#include "app/AppDelegate.h"
#include "platform/gtk/GtkPlatform.h"

#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::unique_ptr<quorvel::Platform> platform =
        quorvel::gtk::makeGtkPlatform(std::vector<std::string>(argv, argv + argc));
    quorvel::Application& app = platform->application();
    int status = 0;
    {
        // Calls still pending hold the application object weakly: it goes at
        // the end of this block, before the platform it uses.
        const auto delegate = std::make_shared<quorvel::AppDelegate>(*platform);
        app.setDelegate(delegate.get());
        app.activate();
        status = app.run();
        app.setDelegate(nullptr);
    }
    return status;
}
