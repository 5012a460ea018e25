#include "app/AppDelegate.h"
#include "platform/gtk/GtkPlatform.h"

#include <memory>

int main() {
    const std::unique_ptr<quorvel::Platform> platform = quorvel::gtk::makeGtkPlatform();
    quorvel::Application& app = platform->application();
    const auto delegate = std::make_shared<quorvel::AppDelegate>(*platform);
    app.setDelegate(delegate.get());
    app.setActivationPolicyRegular();
    app.activate();
    app.run();
    return 0;
}
