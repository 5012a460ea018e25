#include "app/ConfigTemplate.h"

namespace quorvel {

namespace {

// The sender address below must stay equal to defaultSenderAddress (checked by a test).
constexpr std::string_view kTemplate = "# Quorvel桌面版配置\n"
                                       "# 修改后重启 App 生效。\n"
                                       "\n"
                                       "QUOTE_PROVIDER=tencent\n"
                                       "QUOTE_SYNC_INTERVAL_SECONDS=180\n"
                                       "\n"
                                       "EMAIL_DELIVERY_MODE=log\n"
                                       "EMAIL_TO=\n"
                                       "EMAIL_FROM=alerts@quorvel.invalid\n"
                                       "\n"
                                       "CLOUDFLARE_ACCOUNT_ID=\n"
                                       "CLOUDFLARE_API_TOKEN=\n"
                                       "CLOUDFLARE_EMAIL_FROM=Quorvel <alerts@quorvel.invalid>\n"
                                       "\n"
                                       "RESEND_API_KEY=\n"
                                       "RESEND_FROM=Quorvel <alerts@quorvel.invalid>";

} // namespace

std::string_view configTemplate() {
    return kTemplate;
}

} // namespace quorvel
