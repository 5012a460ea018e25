#include "platform/gtk/StatusIcons.h"

#include <array>
#include <gtk/gtk.h>

namespace quorvel::gtk {

std::optional<std::filesystem::path> findStatusIconTheme(const SystemEnvironment& environment) {
    const auto icon = environment.resourcePath(
        "icons", std::string("hicolor/16x16/status/quorvel-status-symbolic.svg"));
    if (!icon) {
        return std::nullopt;
    }
    // <theme>/hicolor/16x16/status/<icon>
    return icon->parent_path().parent_path().parent_path().parent_path();
}

StatusIconNames statusIconNames(std::string_view currentDesktop) {
    // XDG_CURRENT_DESKTOP is a colon-separated list of names.
    for (size_t start = 0; start <= currentDesktop.size();) {
        const size_t end = std::min(currentDesktop.find(':', start), currentDesktop.size());
        if (currentDesktop.substr(start, end - start) == "UKUI") {
            return {"quorvel-status", "quorvel-paused", "quorvel-attention", true};
        }
        start = end + 1;
    }
    return {"quorvel-status-symbolic", "quorvel-paused-symbolic", "quorvel-attention-symbolic",
            false};
}

GVariant* statusIconPixmaps(const char* iconName,
                            const std::optional<std::filesystem::path>& iconTheme) {
    GtkIconTheme* theme = gtk_icon_theme_new();
    if (iconTheme) {
        gtk_icon_theme_append_search_path(theme, iconTheme->c_str());
    }
    GVariantBuilder pixmaps;
    g_variant_builder_init(&pixmaps, G_VARIANT_TYPE("a(iiay)"));
    for (const int size : std::array{16, 22, 24, 32}) {
        GdkPixbuf* pixbuf =
            gtk_icon_theme_load_icon(theme, iconName, size, GTK_ICON_LOOKUP_FORCE_SIZE, nullptr);
        if (pixbuf == nullptr) {
            continue;
        }
        const int width = gdk_pixbuf_get_width(pixbuf);
        const int height = gdk_pixbuf_get_height(pixbuf);
        const int stride = gdk_pixbuf_get_rowstride(pixbuf);
        const int channels = gdk_pixbuf_get_n_channels(pixbuf);
        const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
        const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf);
        GVariantBuilder bytes;
        g_variant_builder_init(&bytes, G_VARIANT_TYPE("ay"));
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const guchar* pixel = pixels + y * stride + x * channels;
                g_variant_builder_add(&bytes, "y", alpha ? pixel[3] : guchar{255});
                g_variant_builder_add(&bytes, "y", pixel[0]);
                g_variant_builder_add(&bytes, "y", pixel[1]);
                g_variant_builder_add(&bytes, "y", pixel[2]);
            }
        }
        g_variant_builder_add(&pixmaps, "(iiay)", width, height, &bytes);
        g_object_unref(pixbuf);
    }
    g_object_unref(theme);
    return g_variant_builder_end(&pixmaps);
}

} // namespace quorvel::gtk
