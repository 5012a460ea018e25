#include "app/AppDelegate.h"

namespace quorvel {

void AppDelegate::openConfigFile() {
    if (appSupport) {
        platform.workspace().openFile(*appSupport / ".env");
    }
}

void AppDelegate::openDataFolder() {
    if (appSupport) {
        platform.workspace().openFile(*appSupport);
    }
}

void AppDelegate::copyAppURL() {
    platform.pasteboard().clearContents();
    platform.pasteboard().setString(loginURL());
    showTransientAlert("已复制服务地址。");
}

} // namespace quorvel
