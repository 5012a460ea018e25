#include "app/AppDelegate.h"
#include "app/SupportFiles.h"

namespace quorvel {

void AppDelegate::createSupportFiles() {
    if (appSupport) {
        createSupportFilesIn(*appSupport);
    }
}

} // namespace quorvel
