#include "app/AppDelegate.h"
#include "platform/gtk/GtkPlatform.h"

#include <memory>

int main() {
    const std::unique_ptr<quorvel::Platform> platform = quorvel::gtk::makeGtkPlatform();
    quorvel::Application& app = platform->application();
    {
        // Calls still pending hold the application object weakly: it goes at
        // the end of this block, before the platform it uses.
        const auto delegate = std::make_shared<quorvel::AppDelegate>(*platform);
        app.setDelegate(delegate.get());
        app.setActivationPolicyRegular();
        app.activate();
        app.run();
        app.setDelegate(nullptr);
    }
    return 0;
}
